' FIPS mode with OpenSSL 3's FIPS provider (the library set that the build puts in bin\fips): the
' operations give the bytes that openssl and Python give (make_fips_expectations.py), what the
' provider lacks is refused with the error table's codes, and an empty FIPS goes back.
' Arguments: the directory of the library set; the directory of the expectations and key.pem.
' Check, CheckError and Finish come from include/checks.vbs, which the test build writes in front.

Const kSource = "Kestrane.Ombrix.1"
Const kNotInFips = "Not supported when FIPS enabled."
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim setDir : setDir = WScript.Arguments(0)
Dim dataDir : dataDir = WScript.Arguments(1)

Dim expected : Set expected = CreateObject("Scripting.Dictionary")
Dim stream : Set stream = fso.OpenTextFile(fso.BuildPath(dataDir, "expectations.txt"))
Dim fields
Do Until stream.AtEndOfStream
    fields = Split(stream.ReadLine, " ")
    expected.Add fields(0), fields(1)
Loop
stream.Close
Set stream = fso.OpenTextFile(fso.BuildPath(dataDir, "key.pem"))
Dim keyPem : keyPem = stream.ReadAll
stream.Close

Function BlobOf(name)
    Set BlobOf = CreateObject("Kestrane.MemBlob")
    BlobOf.FromHex expected(name)
End Function

Dim crypt : Set crypt = CreateObject("Kestrane.Ombrix")
Dim plain : Set plain = BlobOf("plain")
Dim result : Set result = CreateObject("Kestrane.MemBlob")
Dim back : Set back = CreateObject("Kestrane.MemBlob")
Dim library : library = fso.BuildPath(setDir, "libcrypto-3-x64.dll")
Dim linkedVersion : linkedVersion = crypt.Version

' MD5 chosen before FIPS mode began: the digest is the control's own code, the HMAC would be the
' library's, which the provider lacks.
crypt.type = 100
crypt.FIPS = library
Check "FIPS", crypt.FIPS, library
Check "Version", crypt.Version, linkedVersion & " (FIPS)"
crypt.Digest plain, result
Check "MD5 by the control's own code", result.ToHex, expected("md5")
crypt.SecretKey = "key"
On Error Resume Next
crypt.HMAC plain, result
CheckError "HMAC-MD5", 33018, kNotInFips, kSource
On Error Goto 0

' The Types that FIPS mode excludes.
Dim excluded
For Each excluded In Array(5, 6, 7, 8, 9, 100)
    On Error Resume Next
    crypt.type = excluded
    CheckError "type " & excluded, 33018, kNotInFips, kSource
    On Error Goto 0
Next

' A cipher in one mode, with PKCS#7 padding, compared with openssl's; then decrypted back.
Sub CheckCipher(label, cipherType, cipherMode, keyName, ivName, expectedName)
    crypt.type = cipherType
    crypt.Mode = cipherMode
    crypt.Padding = 3
    crypt.Compression = 0
    crypt.Optimized = False
    Set crypt.SecretKey = BlobOf(keyName)
    Set crypt.InitVector = BlobOf(ivName)
    crypt.Encrypt plain, result
    Check label, result.ToHex, expected(expectedName)
    Set crypt.InitVector = BlobOf(ivName)
    crypt.Decrypt result, back
    Check label & " back", back.ToHex, expected("plain")
End Sub

CheckCipher "AES-128-CBC", 2, 1, "aes_key", "aes_iv", "aes_cbc"
CheckCipher "AES-128-CFB", 2, 2, "aes_key", "aes_iv", "aes_cfb"
CheckCipher "DES-EDE3-CBC", 1, 1, "des_key", "des_iv", "des3_cbc"

' Single DES is not in the provider: the put is accepted, the operation refused.
crypt.type = 0
On Error Resume Next
crypt.Encrypt plain, result
CheckError "DES", 33018, kNotInFips, kSource
On Error Goto 0

' Digests and the HMAC.
Sub CheckDigest(label, digestType, expectedName)
    crypt.type = digestType
    crypt.Digest plain, result
    Check label, result.ToHex, expected(expectedName)
End Sub

CheckDigest "SHA-256", 102, "sha256"
CheckDigest "SHA-1", 101, "sha1"
Set crypt.SecretKey = BlobOf("hmac_key")
crypt.HMAC plain, result
Check "HMAC-SHA1", result.ToHex, expected("hmac_sha1")

' RSA-SHA1 with a key that openssl made, given through the certificate stand-in.
Dim cert : Set cert = CreateObject("Kestrane.Certificate")
cert.PrivateKey = keyPem
crypt.type = 1101
Set crypt.SecretKey = cert
Dim signature : Set signature = CreateObject("Kestrane.MemBlob")
crypt.Sign plain, signature
Check "RSA-SHA1", signature.ToHex, expected("rsa_sha1")
Check "RSA-SHA1 verifies", crypt.Verify(plain, signature), True

' An empty FIPS leaves FIPS mode.
crypt.FIPS = ""
Check "Version after", crypt.Version, linkedVersion
crypt.type = 8
Check "RC4 after", crypt.type, 8

Finish
