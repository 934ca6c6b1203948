' The control's defaults, validation and errors as a VBScript client sees them.
' Check and Finish come from include/checks.vbs, which the test build writes in front.

Dim o : Set o = CreateObject("Kestrane.Ombrix")
Check "type", o.type, 2
Check "BlockSize", o.BlockSize, 16
Check "KeySize", o.KeySize, 16
Check "Optimized", o.Optimized, True
Check "FireEvents", o.FireEvents, True
Check "Mode", o.Mode, 0
Check "Padding", o.Padding, 0
Check "Compression", o.Compression, 0
Check "SecretKey empty", IsEmpty(o.SecretKey), True
Check "InitVector empty", IsEmpty(o.InitVector), True
Check "Encoding", o.Encoding, 65001
Check "Language", o.Language, 0
Check "Version", o.Version, "2.2.5.115"

On Error Resume Next
o.type = 12
Check "type=12 number", Err.Number, &H800A7534 And &HFFFF&
Check "type=12 description", Err.Description, "Selected Type not supported."
Check "type=12 source", Err.Source, "Kestrane.Ombrix.1"
Err.Clear
On Error Goto 0
Check "type after failure", o.type, 2

o.type = 65535
Check "None BlockSize", o.BlockSize, 0
Check "None KeySize", o.KeySize, 0
o.type = 106
Check "CRC32 BlockSize", o.BlockSize, 4
Check "CRC32 KeySize", o.KeySize, 0
o.type = 1000
Check "RSA BlockSize", o.BlockSize, 0

o.Optimized = 5
Check "Optimized=5", o.Optimized, True
o.Version = "1.0"
Check "Version put ignored", o.Version, "2.2.5.115"

Dim versioned : Set versioned = CreateObject("Kestrane.Ombrix.1")
versioned.Encoding = 1250
Check "Encoding shared", o.Encoding, 1250
versioned.Encoding = 65001
o.Abort

Finish
