// Keys, IVs and arrays from variables and function parameters in JScript, which passes values:
// each gives exactly what the literal gives.
// check and finish come from include/checks.js, which the test build writes in front.

var crypt = new ActiveXObject("Kestrane.Ombrix");
var plain = new ActiveXObject("Kestrane.MemBlob");
var secret = new ActiveXObject("Kestrane.MemBlob");
crypt.type = 2;
crypt.Mode = 1;
crypt.Padding = 3;
crypt.Optimized = false;
plain.Text = "Attack at dawn, bring the usual provisions.";
function encryptedHex() {
    crypt.Encrypt(plain, secret);
    return secret.ToHex();
}

crypt.SecretKey = "secret passphrase";
crypt.InitVector = "initial vector 1";
var expected = encryptedHex();

var pw = "secret passphrase", iv = "initial vector 1";
crypt.SecretKey = pw;
crypt.InitVector = iv;
check("key and IV from variables", encryptedHex(), expected);
function setKeys(c, key, vector) {
    c.SecretKey = key;
    c.InitVector = vector;
}
setKeys(crypt, pw, iv);
check("key and IV as parameters", encryptedHex(), expected);
check("key get", crypt.SecretKey, pw);

var keyBlob = new ActiveXObject("Kestrane.MemBlob");
keyBlob.FromHex("000102030405060708090a0b0c0d0e0f");
var keyBytes = keyBlob.ToArray();
var copy = new ActiveXObject("Kestrane.MemBlob");
copy.FromArray(keyBytes);
check("FromArray from a variable", copy.ToHex(), "000102030405060708090a0b0c0d0e0f");
crypt.SecretKey = keyBlob.ToArray();
crypt.InitVector = keyBlob.ToArray();
var fromExpression = encryptedHex();
setKeys(crypt, keyBytes, keyBytes);
check("array variable as parameters", encryptedHex(), fromExpression);

finish();
