' The memory blob from VBScript: conversions, files and errors, and the shared text code page.
' Check and Finish come from include/checks.vbs, which the test build writes in front.

Dim b : Set b = CreateObject("Kestrane.MemBlob")
Dim b2 : Set b2 = CreateObject("Kestrane.MemBlob.2")
b.Text = "Hello, world"
Check "ToHex", b.ToHex, "48656c6c6f2c20776f726c64"
Check "ToBase64", b.ToBase64, "SGVsbG8sIHdvcmxk"
Check "ToInt", b.ToInt, &H6C6C6548
b2.FromHex "48656C6C6F"
Check "FromHex", b2.Text, "Hello"
b2.FromBase64 "SGVs" & vbCrLf & "bG8="
Check "FromBase64", b2.Text, "Hello"
b2.FromHex ""
Check "empty FromHex", IsNull(b2.Text) Or b2.Text = "", True

' Files: whole and in parts.
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim path : path = fso.BuildPath(fso.GetSpecialFolder(2), "memblob_script.txt")
b.ToFile path
b2.FromFile path
Check "FromFile", b2.Text, "Hello, world"
b2.FromFilePart path, 7, 5
Check "FromFilePart", b2.Text, "world"
fso.DeleteFile path

' Errors carry the table's number, message and the blob's ProgID.
On Error Resume Next
b2.FromFile path
Check "missing file number", Err.Number And &HFFFF&, 2
Check "missing file text", Err.Description, "The system cannot find the file specified."
Check "missing file source", Err.Source, "Kestrane.MemBlob.2"
Err.Clear
On Error Goto 0
Check "blob emptied", b2.ToHex = "", True

' The text code page set on a control changes every blob's Text.
Dim crypt : Set crypt = CreateObject("Kestrane.Ombrix")
b.FromHex "c3a9"
Check "UTF-8 text length", Len(b.Text), 1
crypt.Encoding = 1252
Check "1252 text length", Len(b.Text), 2
crypt.Encoding = 65001

Finish
