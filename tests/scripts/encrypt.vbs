' Encrypt and Decrypt from VBScript: keys and IVs as text, a known AES vector in hex, a round trip
' with compression, and errors as a script sees them.
' Check and Finish come from include/checks.vbs, which the test build writes in front.

Dim crypt : Set crypt = CreateObject("Kestrane.Ombrix")
Dim plain : Set plain = CreateObject("Kestrane.MemBlob")
Dim secret : Set secret = CreateObject("Kestrane.MemBlob")
Dim back : Set back = CreateObject("Kestrane.MemBlob")

' SP 800-38A F.2.1, first block: AES-128-CBC with the key and IV given as hex through blobs.
Dim key : Set key = CreateObject("Kestrane.MemBlob")
key.FromHex "2b7e151628aed2a6abf7158809cf4f3c"
Dim iv : Set iv = CreateObject("Kestrane.MemBlob")
iv.FromHex "000102030405060708090a0b0c0d0e0f"
crypt.type = 2
crypt.Mode = 1
crypt.Optimized = False
Set crypt.SecretKey = key
Set crypt.InitVector = iv
plain.FromHex "6bc1bee22e409f96e93d7e117393172a"
crypt.Encrypt plain, secret
Check "AES-CBC vector", secret.ToHex, "7649abac8119b246cee98e9b12e9197d"

' A round trip with PKCS#7, zlib and the optimized header, key and IV as text.
crypt.Padding = 3
crypt.Compression = 1
crypt.Optimized = True
crypt.SecretKey = "correct horse battery staple"
crypt.InitVector = "0123456789abcdef"
Dim message : message = String(5000, "x") & "end"
plain.Text = message
crypt.Encrypt plain, secret
crypt.InitVector = "0123456789abcdef"
crypt.Decrypt secret, back
Check "round trip", back.Text, message

' No key for a cipher, and a Type that is no cipher.
On Error Resume Next
crypt.SecretKey = Empty
crypt.Encrypt plain, secret
Check "no key", Err.Description, "Secret Password is not set, or cannot be applied to selected algorithm."
Check "source", Err.Source, "Kestrane.Ombrix.1"
Err.Clear
crypt.SecretKey = "k"
crypt.type = 101
crypt.Encrypt plain, secret
Check "digest type", Err.Description, "Selected Type cannot apply to this method. Please choose appropriate crypto type."
On Error Goto 0

Finish
