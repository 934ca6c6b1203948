' Signs a Windows program with Authenticode and verifies the signature.
'
'   cscript sign_exe.vbs [program [signed [certificate.pem [key.pem [timestamp-url]]]]]
'
' Defaults: a copy of Windows' attrib.exe, written to the temporary folder, signed with the demo
' key pair beside this script (self-signed, made for the samples only: Windows reports an
' untrusted root for it, error 31016; Wine accepts it). The certificate and key go into the
' control through a certificate object (Kestrane.Certificate).
Option Explicit

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim here : here = fso.GetParentFolderName(WScript.ScriptFullName)
Dim args : Set args = WScript.Arguments
Dim programPath, signedPath, certPath, keyPath, stampUrl
programPath = fso.BuildPath(fso.GetSpecialFolder(1), "attrib.exe")
signedPath = fso.BuildPath(fso.GetSpecialFolder(2), "attrib_signed.exe")
certPath = fso.BuildPath(here, "demo_signer_cert.pem")
keyPath = fso.BuildPath(here, "demo_signer_key.pem")
stampUrl = ""
If args.Count >= 1 Then programPath = args(0)
If args.Count >= 2 Then signedPath = args(1)
If args.Count >= 3 Then certPath = args(2)
If args.Count >= 4 Then keyPath = args(3)
If args.Count >= 5 Then stampUrl = args(4)

Function ReadAll(path)
    ReadAll = fso.OpenTextFile(path, 1).ReadAll
End Function

Dim cert : Set cert = CreateObject("Kestrane.Certificate")
cert.Data = ReadAll(certPath)
cert.PrivateKey = ReadAll(keyPath)
Dim crypt : Set crypt = CreateObject("Kestrane.Ombrix")
Set crypt.SecretKey = cert

Dim program : Set program = CreateObject("Kestrane.FileBlob")
program.ReadOnly = True
program.Filename = programPath
If fso.FileExists(signedPath) Then fso.DeleteFile signedPath
Dim signed : Set signed = CreateObject("Kestrane.FileBlob")
signed.Filename = signedPath

crypt.SignEXE program, signed, stampUrl, "Ombrix sample", "https://example.invalid/"
WScript.Echo "Signed " & programPath & " into " & signedPath

On Error Resume Next
Dim signer : Set signer = crypt.VerifyEXE(signed)
If Err.Number = 0 Then
    WScript.Echo "Signature valid."
Else
    WScript.Echo "Verification: error " & (Err.Number And &HFFFF&) & ": " & Err.Description
End If
Dim named : named = Not (signer Is Nothing)
If named Then WScript.Echo "Signer certificate:" & vbLf & signer.Data
