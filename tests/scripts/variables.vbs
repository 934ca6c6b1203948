' Values held in variables and passed as Sub parameters, as users write scripts: the host then
' passes references to its variables. Each must give exactly what the literal gives.
' Check and Finish come from include/checks.vbs, which the test build writes in front.

Dim crypt : Set crypt = CreateObject("Kestrane.Ombrix")
Dim plain : Set plain = CreateObject("Kestrane.MemBlob")
Dim secret : Set secret = CreateObject("Kestrane.MemBlob")
crypt.type = 2
crypt.Mode = 1
crypt.Padding = 3
crypt.Optimized = False
plain.Text = "Attack at dawn, bring the usual provisions."

Function EncryptedHex()
    crypt.Encrypt plain, secret
    EncryptedHex = secret.ToHex
End Function

' Literals first: the reference every variable form must match.
crypt.SecretKey = "secret passphrase"
crypt.InitVector = "initial vector 1"
Dim expected : expected = EncryptedHex()
Check "key get after literal", crypt.SecretKey, "secret passphrase"

Dim pw : pw = "secret passphrase"
Dim ivText : ivText = "initial vector 1"
crypt.SecretKey = pw
crypt.InitVector = ivText
Check "key and IV from variables", EncryptedHex(), expected
Check "key get after variable", crypt.SecretKey, pw
' The control keeps a copy: changing the variable afterwards changes nothing.
pw = "something else"
crypt.InitVector = ivText
Check "variable changed after the put", EncryptedHex(), expected
Check "key get after the variable changed", crypt.SecretKey, "secret passphrase"

Sub SetKeys(c, key, iv)
    c.SecretKey = key
    c.InitVector = iv
End Sub
SetKeys crypt, "secret passphrase", "initial vector 1"
Check "key and IV as Sub parameters", EncryptedHex(), expected
pw = "secret passphrase"
SetKeys crypt, pw, ivText
Check "variables through Sub parameters", EncryptedHex(), expected

' Byte arrays from a blob, held in a variable: as key, as IV and for FromArray and Write.
Dim keyBlob : Set keyBlob = CreateObject("Kestrane.MemBlob")
keyBlob.FromHex "000102030405060708090a0b0c0d0e0f"
Dim keyBytes : keyBytes = keyBlob.ToArray
' An expression's array arrives by value: the reference for the variable forms.
crypt.SecretKey = keyBlob.ToArray
crypt.InitVector = keyBlob.ToArray
Dim fromBlob : fromBlob = EncryptedHex()
crypt.SecretKey = keyBytes
crypt.InitVector = keyBytes
Check "key and IV from an array variable", EncryptedHex(), fromBlob
SetKeys crypt, keyBytes, keyBytes
Check "array variable through Sub parameters", EncryptedHex(), fromBlob

Dim copy : Set copy = CreateObject("Kestrane.MemBlob")
copy.FromArray keyBytes
Check "FromArray from a variable", copy.ToHex, "000102030405060708090a0b0c0d0e0f"
Sub FillFrom(target, bytes)
    target.FromArray bytes
End Sub
copy.Text = ""
FillFrom copy, keyBytes
Check "FromArray through a Sub parameter", copy.ToHex, "000102030405060708090a0b0c0d0e0f"

' A text key in a variable is as good for HMAC as the literal.
crypt.type = 102
Dim mac : Set mac = CreateObject("Kestrane.MemBlob")
crypt.SecretKey = "key"
plain.Text = "The quick brown fox jumps over the lazy dog"
crypt.HMAC plain, mac
Dim macKey : macKey = "key"
crypt.SecretKey = macKey
Dim mac2 : Set mac2 = CreateObject("Kestrane.MemBlob")
crypt.HMAC plain, mac2
' The literal key's result is the published example value for this text.
Check "HMAC-SHA256 literal key", mac.ToHex, "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8"
Check "HMAC-SHA256 key from a variable", mac2.ToHex, mac.ToHex

Finish
