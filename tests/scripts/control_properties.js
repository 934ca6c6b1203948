// The control through Wine's JScript host: defaults, puts and an error.
// check and finish come from include/checks.js, which the test build writes in front.

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

finish();
