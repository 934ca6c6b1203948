' The file and stream blobs from VBScript: creation by both ProgIDs, text at the position, the
' read-only window, their errors with number, description and source, and a file-to-file Encrypt.
' Check and Finish come from include/checks.vbs, which the test build writes in front.

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim temp : temp = fso.GetSpecialFolder(2)

' A new file blob works on a temporary file of its own, deleted with the blob.
Dim f : Set f = CreateObject("Kestrane.FileBlob")
Dim tempName : tempName = f.Filename
Check "temporary file exists", fso.FileExists(tempName), True
Check "temporary prefix", LCase(Left(fso.GetFileName(tempName), 3)), "blo"
Check "AutoDelete", f.AutoDelete, True
Check "ReadOnly", f.ReadOnly, False
Check "new Text", IsNull(f.Text) Or f.Text = "", True
f.Text = "abc"
f.Text = "def"
Check "two Text puts", f.Text, "abcdef"
Check "ToHex", f.ToHex, "616263646566"
Set f = Nothing
Check "temporary file deleted", fso.FileExists(tempName), False

' A named file: the window in read-only mode.
Dim path : path = fso.BuildPath(temp, "fileblob_script.txt")
If fso.FileExists(path) Then fso.DeleteFile path
Dim w : Set w = CreateObject("Kestrane.FileBlob.2")
w.Filename = path
w.Text = "0123456789abcdefghijklmnopqrstuvwxyz"
On Error Resume Next
w.StartPos = 10
CheckError "StartPos read-write", 30019, "FileBlob is not open in read-only mode.", "Kestrane.FileBlob.2"
On Error Goto 0
w.ReadOnly = True
w.StartPos = 10
w.EndPos = 19
Check "window", w.Text, "abcdefghij"
On Error Resume Next
w.Text = "x"
CheckError "write in read-only mode", 30010, "FileBlob is open in read-only mode.", "Kestrane.FileBlob.2"
On Error Goto 0

' A missing file in read-only mode leaves the blob not loaded.
On Error Resume Next
w.Filename = fso.BuildPath(temp, "no_such_file_for_fileblob.bin")
CheckError "missing file", 2, "The system cannot find the file specified.", "Kestrane.FileBlob.2"
Dim t : t = w.Text
CheckError "not loaded Text", 2, "The system cannot find the file specified.", "Kestrane.FileBlob.2"
w.EndPos = 3
CheckError "not loaded EndPos", 30020, "FileBlob not loaded.", "Kestrane.FileBlob.2"
On Error Goto 0

' File to file: encrypt one file blob into another and back.
Dim crypt : Set crypt = CreateObject("Kestrane.Ombrix")
crypt.type = 2          ' AES
crypt.SecretKey = "sixteen byte key"
Dim source : Set source = CreateObject("Kestrane.FileBlob")
source.Filename = path
Dim encrypted : Set encrypted = CreateObject("Kestrane.FileBlob")
Dim restored : Set restored = CreateObject("Kestrane.FileBlob")
crypt.Encrypt source, encrypted
Check "encrypted differs", encrypted.ToHex <> source.ToHex, True
crypt.Decrypt encrypted, restored
Check "file round trip", restored.Text, "0123456789abcdefghijklmnopqrstuvwxyz"
Set source = Nothing
fso.DeleteFile path

' The stream blob: every data member wants a stream first.
Dim s : Set s = CreateObject("Kestrane.StreamBlob")
Check "no stream", s.Stream Is Nothing, True
On Error Resume Next
t = s.Text
CheckError "StreamBlob Text", 30018, "Stream property not specified.", "Kestrane.StreamBlob.2"
s.FromHex "00"
CheckError "StreamBlob FromHex", 30018, "Stream property not specified.", "Kestrane.StreamBlob.2"
s.ToFile fso.BuildPath(temp, "streamblob_never.bin")
CheckError "StreamBlob ToFile", 30018, "Stream property not specified.", "Kestrane.StreamBlob.2"
On Error Goto 0
Check "no file without a stream", fso.FileExists(fso.BuildPath(temp, "streamblob_never.bin")), False
Dim s2 : Set s2 = CreateObject("Kestrane.StreamBlob.2")
Check "StreamBlob.2", TypeName(s2), "IStreamBlob"

' The blobs without storage are registered too.
Check "Blob", TypeName(CreateObject("Kestrane.Blob")), "IBlob"
Check "Blob.2", TypeName(CreateObject("Kestrane.Blob.2")), "IBlob"
Check "Blob64", TypeName(CreateObject("Kestrane.Blob64")), "IBlob64"
Check "Blob64.2", TypeName(CreateObject("Kestrane.Blob64.2")), "IBlob64"

Finish
