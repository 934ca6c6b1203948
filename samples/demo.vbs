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

' Encrypting: choose the algorithm and mode, put the key and IV, and encrypt one blob into
' another. Keep the key secret; the IV must be put again before decrypting, because chained
' modes carry it on from one operation to the next.
crypt.type = 2          ' AES (128-bit key)
crypt.Mode = 1          ' CBC
crypt.Padding = 3       ' PKCS#7
crypt.Compression = 1   ' zlib before encryption
crypt.SecretKey = "sixteen byte key"
crypt.InitVector = "an initial value"

Dim plain : Set plain = CreateObject("Kestrane.MemBlob")
plain.Text = "Meet me at the old mill at midnight. Bring the map."
Dim secret : Set secret = CreateObject("Kestrane.MemBlob")
crypt.Encrypt plain, secret
WScript.Echo "Encrypted (Base64): " & secret.ToBase64

crypt.InitVector = "an initial value"
Dim restored : Set restored = CreateObject("Kestrane.MemBlob")
crypt.Decrypt secret, restored
WScript.Echo "Decrypted: """ & restored.Text & """"

' A wrong key is not detected by the cipher; with compression on, the damaged data fails to
' decompress and the error says so.
crypt.SecretKey = "not the right key"
crypt.InitVector = "an initial value"
On Error Resume Next
crypt.Decrypt secret, restored
If Err.Number <> 0 Then WScript.Echo "With a wrong key: " & Err.Description
On Error Goto 0
