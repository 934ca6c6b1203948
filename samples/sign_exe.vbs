' Signs a Windows program with Authenticode and verifies the signature.
'
'   cscript sign_exe.vbs [program [signed [certificate.pem [key.pem [timestamp-url [description [url]]]]]]]
'
' Defaults: a copy of Windows' attrib.exe, written to the temporary folder, signed with the demo
' key pair beside this script (self-signed, made for the samples only: Windows reports an
' untrusted root for it, error 31016; Wine accepts it), no time stamp, and a description and URL
' shown by Windows' signature dialog. An empty argument keeps its default. The certificate and
' key go into the control through a certificate object (Kestrane.Certificate).
Option Explicit

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim here : here = fso.GetParentFolderName(WScript.ScriptFullName)

' The command line's argument at `index`, or `fallback` when it is missing or empty.
Function Argument(index, fallback)
    Argument = fallback
    If WScript.Arguments.Count > index Then
        If WScript.Arguments(index) <> "" Then Argument = WScript.Arguments(index)
    End If
End Function

Dim programPath : programPath = Argument(0, fso.BuildPath(fso.GetSpecialFolder(1), "attrib.exe"))
Dim signedPath : signedPath = Argument(1, fso.BuildPath(fso.GetSpecialFolder(2), "attrib_signed.exe"))
Dim certPath : certPath = Argument(2, fso.BuildPath(here, "demo_signer_cert.pem"))
Dim keyPath : keyPath = Argument(3, fso.BuildPath(here, "demo_signer_key.pem"))
Dim stampUrl : stampUrl = Argument(4, "")     ' e.g. an RFC 3161 time-stamp server's http:// URL
Dim description : description = Argument(5, "Ombrix sample")
Dim infoUrl : infoUrl = Argument(6, "https://example.invalid/")

Function ReadAll(path)
    ReadAll = fso.OpenTextFile(path, 1).ReadAll
End Function

Dim cert : Set cert = CreateObject("Kestrane.Certificate")
cert.Data = ReadAll(certPath)
cert.PrivateKey = ReadAll(keyPath)
Dim crypt : Set crypt = CreateObject("Kestrane.Ombrix")
Set crypt.SecretKey = cert
' SHA-256 throughout, with an RFC 3161 time stamp when a URL is given: what current Windows
' expects of downloaded programs. Leave type at another value for the legacy MD5 signature.
crypt.type = 102   ' SHA256

Dim program : Set program = CreateObject("Kestrane.FileBlob")
program.ReadOnly = True
program.Filename = programPath
If fso.FileExists(signedPath) Then fso.DeleteFile signedPath
Dim signed : Set signed = CreateObject("Kestrane.FileBlob")
signed.Filename = signedPath

crypt.SignEXE program, signed, stampUrl, description, infoUrl
If stampUrl = "" Then
    WScript.Echo "Signed " & programPath & " into " & signedPath
Else
    WScript.Echo "Signed and time-stamped " & programPath & " into " & signedPath
End If

' Windows reports an untrusted root for the demo certificate: the error is shown, not raised.
On Error Resume Next
Dim signer : Set signer = crypt.VerifyEXE(signed)
Dim verifyError : verifyError = Err.Number
Dim verifyMessage : verifyMessage = Err.Description
On Error Goto 0
If verifyError = 0 Then
    WScript.Echo "Signature valid."
    If Not signer Is Nothing Then WScript.Echo "Signer certificate:" & vbLf & signer.Data
Else
    WScript.Echo "Verification: error " & (verifyError And &HFFFF&) & ": " & verifyMessage
End If
