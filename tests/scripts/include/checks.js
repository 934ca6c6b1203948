// The checks every JScript test uses, written in front of each test by the test build
// (tests/CMakeLists.txt), as for the VBScript tests.
var failures = 0;

// A value that differs from the expected one is reported and counted.
function check(label, actual, expected) {
    if (actual !== expected) {
        WScript.Echo("FAIL " + label + ": got [" + actual + "] expected [" + expected + "]");
        failures++;
    }
}

// The last statement of a test: the marker line when nothing failed (an unhandled error ends the
// host silently with status 0), and the number of failures as the exit code.
function finish() {
    if (failures === 0) WScript.Echo(WScript.ScriptName + ": all checks passed");
    WScript.Quit(failures);
}

