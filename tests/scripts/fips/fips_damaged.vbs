' A copy of the FIPS library set whose provider module was changed after fipsinstall: the
' provider's integrity test fails, so the switch fails with 33017 and the process stays with the
' linked library. It runs in a process of its own, where no FIPS provider was loaded before.
' Argument: the directory of the damaged set.
' Check, CheckError and Finish come from include/checks.vbs, which the test build writes in front.

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim library : library = fso.BuildPath(WScript.Arguments(0), "libcrypto-3-x64.dll")
Dim crypt : Set crypt = CreateObject("Kestrane.Ombrix")
Dim linkedVersion : linkedVersion = crypt.Version

On Error Resume Next
crypt.FIPS = library
CheckError "FIPS put", 33017, "FIPS library failed to initialize.", "Kestrane.Ombrix.1"
On Error Goto 0
Check "FIPS unchanged", crypt.FIPS, ""
Check "Version", crypt.Version, linkedVersion
Check "no (FIPS)", InStr(crypt.Version, "(FIPS)"), 0

' The linked library serves: RC4 is allowed again, and AES gives SP 800-38A's F.2.1 block.
crypt.type = 8
Check "RC4 allowed", crypt.type, 8
Sub CheckAes(keyHex, ivHex, plainHex, cipherHex)
    Dim key : Set key = CreateObject("Kestrane.MemBlob")
    key.FromHex keyHex
    Dim iv : Set iv = CreateObject("Kestrane.MemBlob")
    iv.FromHex ivHex
    Dim plain : Set plain = CreateObject("Kestrane.MemBlob")
    plain.FromHex plainHex
    Dim secret : Set secret = CreateObject("Kestrane.MemBlob")
    crypt.type = 2
    crypt.Mode = 1
    crypt.Optimized = False
    Set crypt.SecretKey = key
    Set crypt.InitVector = iv
    crypt.Encrypt plain, secret
    Check "AES-CBC in the linked library", secret.ToHex, cipherHex
End Sub
CheckAes "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f", _
    "6bc1bee22e409f96e93d7e117393172a", "7649abac8119b246cee98e9b12e9197d"

Finish
