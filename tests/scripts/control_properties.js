// The control through Wine's JScript host: defaults, puts and an error.
var failures = 0;
function check(label, actual, expected) {
    if (actual !== expected) {
        WScript.Echo("FAIL " + label + ": got [" + actual + "] expected [" + expected + "]");
        failures++;
    }
}

var o = new ActiveXObject("Kestrane.Ombrix.1");
check("type", o.type, 2);
check("BlockSize", o.BlockSize, 16);
check("Version", o.Version, "2.2.5.115");
check("Optimized", o.Optimized, true);
o.type = 0;
check("DES BlockSize", o.BlockSize, 8);
o.Mode = 1;
check("Mode", o.Mode, 1);
o.FireEvents = false;
check("FireEvents", o.FireEvents, false);

try {
    o.type = 12;
    check("type=12 threw", false, true);
} catch (e) {
    check("type=12 number", e.number, 0x800A7534 | 0);
    check("type=12 description", e.description, "Selected Type not supported.");
}
check("type unchanged", o.type, 0);

if (failures === 0) WScript.Echo("control_properties.js: all checks passed");
WScript.Quit(failures);
