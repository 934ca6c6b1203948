' Encrypts one file into another through two file blobs, then decrypts it back and compares.
'
'   cscript encrypt_file.vbs [input [output]]
'
' Without arguments a sample input of about 1 MB is made in the temporary folder. Progress is
' printed through the control's events where the script host can connect them
' (WScript.ConnectObject on Windows). Wine's script host does not implement ConnectObject, so
' under Wine the sample says so and runs without a progress printout; the events themselves are
' tested from C++ clients.
Option Explicit

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim temp : temp = fso.GetSpecialFolder(2)
Dim inputPath, outputPath
If WScript.Arguments.Count >= 1 Then
    inputPath = WScript.Arguments(0)
Else
    inputPath = fso.BuildPath(temp, "ombrix_sample_input.txt")
    Dim text : Set text = fso.CreateTextFile(inputPath, True)
    Dim i
    For i = 1 To 20000
        text.WriteLine "Line " & i & " of the sample input, to be encrypted by Ombrix."
    Next
    text.Close
End If
If WScript.Arguments.Count >= 2 Then
    outputPath = WScript.Arguments(1)
Else
    outputPath = inputPath & ".enc"
End If

Dim crypt : Set crypt = CreateObject("Kestrane.Ombrix")
On Error Resume Next
WScript.ConnectObject crypt, "crypt_"
Dim events : events = (Err.Number = 0)
Err.Clear
On Error Goto 0
If Not events Then WScript.Echo "(this script host cannot receive events: no progress printout)"

Sub crypt_Progress(position, total)
    WScript.Echo "  " & position & " of " & total & " bytes"
End Sub

Sub crypt_Done()
    WScript.Echo "  done"
End Sub

' AES-256 takes 32 key bytes: a passphrase of 32 characters here. Chained modes carry the IV on
' from one operation to the next, so it is put again before decrypting.
Dim passphrase : passphrase = "a passphrase of thirty-two bytes"
Dim iv : iv = "sixteen byte IV."
crypt.type = 4             ' AES256
crypt.Mode = 1             ' CBC
crypt.Compression = 1      ' zlib
crypt.SecretKey = passphrase

' The source is opened read-only; the output blob is pointed at the output file, emptied first.
Dim source : Set source = CreateObject("Kestrane.FileBlob")
source.ReadOnly = True
source.Filename = inputPath
If fso.FileExists(outputPath) Then fso.DeleteFile outputPath
Dim target : Set target = CreateObject("Kestrane.FileBlob")
target.Filename = outputPath

WScript.Echo "Encrypting " & inputPath & " into " & outputPath
crypt.InitVector = iv
crypt.Encrypt source, target
WScript.Echo "Encrypted size: " & fso.GetFile(outputPath).Size & " bytes (input " & fso.GetFile(inputPath).Size & ")"

Dim restored : Set restored = CreateObject("Kestrane.FileBlob")
WScript.Echo "Decrypting into a temporary file"
crypt.InitVector = iv
crypt.Decrypt target, restored
WScript.Echo "Restored equals input: " & (restored.ToHex = source.ToHex)
