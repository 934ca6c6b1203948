' What a script does with the Ombrix control: create it, read its settings, choose an
' algorithm and handle an error.
Option Explicit

Dim crypt : Set crypt = CreateObject("Kestrane.Ombrix")
WScript.Echo "Ombrix version " & crypt.Version
WScript.Echo "Default algorithm type " & crypt.type & ": key " & crypt.KeySize & " bytes, block " & crypt.BlockSize & " bytes"
WScript.Echo "Mode " & crypt.Mode & ", padding " & crypt.Padding & ", compression " & crypt.Compression & _
             ", optimized " & crypt.Optimized & ", text code page " & crypt.Encoding

crypt.type = 4   ' AES256
WScript.Echo "After choosing AES256: key " & crypt.KeySize & " bytes, block " & crypt.BlockSize & " bytes"

On Error Resume Next
crypt.type = 12  ' not an algorithm
If Err.Number <> 0 Then
    WScript.Echo "Error " & Err.Number & " from " & Err.Source & ": " & Err.Description
End If
On Error Goto 0
WScript.Echo "The algorithm stays type " & crypt.type

' Blobs carry the data of every operation; a memory blob converts between text, hex and Base64.
Dim blob : Set blob = CreateObject("Kestrane.MemBlob")
blob.Text = "Attack at dawn"
WScript.Echo "Text """ & blob.Text & """ is hex " & blob.ToHex & " and Base64 " & blob.ToBase64
Dim copy : Set copy = CreateObject("Kestrane.MemBlob")
copy.FromBase64 blob.ToBase64
WScript.Echo "Decoded back from Base64: """ & copy.Text & """"
