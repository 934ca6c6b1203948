' The checks every VBScript test uses. The test build writes this file in front of each test
' (tests/CMakeLists.txt): Wine's script host runs neither .wsf jobs nor ExecuteGlobal, so a
' script cannot include it itself.
Option Explicit
Dim failures : failures = 0

' A value that differs from the expected one is reported and counted.
Sub Check(label, actual, expected)
    If actual <> expected Then
        WScript.Echo "FAIL " & label & ": got [" & actual & "] expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

' The error that the last call raised (under On Error Resume Next), by its table code, English
' message and source; then cleared.
Sub CheckError(label, number, description, source)
    Check label & " number", Err.Number And &HFFFF&, number
    Check label & " description", Err.Description, description
    Check label & " source", Err.Source, source
    Err.Clear
End Sub

' The last statement of a test. The host ends with status 0 and no message on a script error, so
' a test passes only when it gets here without failures and prints the marker line.
Sub Finish()
    If failures = 0 Then WScript.Echo WScript.ScriptName & ": all checks passed"
    WScript.Quit failures
End Sub

