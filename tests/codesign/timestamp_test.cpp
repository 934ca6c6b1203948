// The time-stamp client: ParseUrl's table, the socket layer's one-time start-up, the request's
// bytes, and exchanges with tsa_server.py, a Python time-stamp server on a loopback port that
// checks the request byte for byte and answers with a SignedData made by the openssl command,
// or misbehaves on purpose.
#include <winsock2.h>
#include <windows.h>
#undef OPTIONAL  // a parameter annotation of the Windows headers; the binding list uses the name

#include <gtest/gtest.h>

#include "binding/binding.h"
#include "binding/fips.h"
#include "codesign/http_exchange.h"
#include "codesign/socket.h"
#include "codesign/timestamp.h"
#include "codesign/url.h"
#include "codesign/tsa_server_process.h"
#include "crypto/random_source.h"
#include "test_bytes.h"

#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/sha.h>
#include <openssl/ts.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace ombrix;
using test::Bytes;
using test::ToHex;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---------------------------------------------------------------------------------------------
// ParseUrl

struct UrlCase {
    std::string url;
    int result;
    const char* scheme;
    int secure;
    const char* user;
    const char* password;
    const char* host;
    uint32_t port;
    std::string path;
};

TEST(ParseUrl, Table) {
    const std::string long_host(10239, 'h');
    const std::string long_scheme(10239, 's');
    const std::string long_user(10239, 'u');
    const UrlCase cases[] = {
        {"http://host/tsa", 1, "http", 0, "", "", "host", 80, "/tsa"},
        {"https://user:pa:ss@host:8080", 1, "https", 1, "user", "pa:ss", "host", 8080, "/"},
        {"http://host?x=1", 1, "http", 0, "", "", "host", 80, "/?x=1"},
        {"http://host/", 1, "http", 0, "", "", "host", 80, "/"},
        {"http://host", 1, "http", 0, "", "", "host", 80, "/"},
        {"http://host:8080/stamp", 1, "http", 0, "", "", "host", 8080, "/stamp"},
        {"HTTPS://Host.Example/A/B?c", 1, "https", 1, "", "", "Host.Example", 443, "/A/B?c"},
        {"https://h", 1, "https", 1, "", "", "h", 443, "/"},
        {"ftp://h/x", 1, "ftp", 0, "", "", "h", 21, "/x"},
        {"gopher://h/x", 1, "http", 0, "", "", "h", 80, "/x"},
        {"file://C:/dir/file", 1, "file", 0, "", "", "", 0, "C:/dir/file"},
        {"host/tsa", 0, "", 0, "", "", "", 0, "host/tsa"},
        {"http:/host", 0, "", 0, "", "", "", 0, "http:/host"},
        {"http://h&a=b", 1, "http", 0, "", "", "h", 80, "/&a=b"},
        {"http://h/a?b&c", 1, "http", 0, "", "", "h", 80, "/a?b&c"},
        {"http://h:abc/x", 1, "http", 0, "", "", "h:abc", 80, "/x"},
        {"http://h:12ab/x", 1, "http", 0, "", "", "h", 12, "/x"},
        {"http://h:/x", 1, "http", 0, "", "", "h:", 80, "/x"},
        {"http://h:99999999999/", 1, "http", 0, "", "", "h", UINT32_MAX, "/"},
        {"http://user@host/x", 1, "http", 0, "user", "", "host", 80, "/x"},
        {"http://:pw@host", 1, "http", 0, "", "pw", "host", 80, "/"},
        {"http://host/x@y", 1, "http", 0, "", "", "host", 80, "/x@y"},
        {"http://a@b@host/", 1, "http", 0, "a", "", "b@host", 80, "/"},
        {"http://", 1, "http", 0, "", "", "", 80, "/"},
        // Limits: each of scheme, user information and host-and-port up to 10239 characters.
        {"http://" + long_host + "/", 1, "http", 0, "", "", long_host.c_str(), 80, "/"},
        {"http://" + long_host + "h/", 0, "", 0, "", "", "", 0, ""},
        {long_scheme + "://h/", 1, "http", 0, "", "", "h", 80, "/"},
        {long_scheme + "s://h/", 0, "", 0, "", "", "", 0, ""},
        {"http://" + long_user + "@h/", 1, "http", 0, long_user.c_str(), "", "h", 80, "/"},
        {"http://" + long_user + "u@h/", 0, "", 0, "", "", "", 0, ""},
        {"http://h:1/" + std::string(20000, 'p'), 1, "http", 0, "", "", "h", 1, "/" + std::string(20000, 'p')},
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.url.substr(0, 60));
        ParsedUrl parsed;
        parsed.host_name = "stale";
        ASSERT_EQ(ParseUrl(c.url, parsed), c.result);
        EXPECT_EQ(parsed.scheme, c.scheme);
        EXPECT_EQ(parsed.secure, c.secure);
        EXPECT_EQ(parsed.user_name, c.user);
        EXPECT_EQ(parsed.password, c.password);
        EXPECT_EQ(parsed.host_name, c.host);
        EXPECT_EQ(parsed.port, c.port);
        EXPECT_EQ(parsed.path, c.path);
    }
}

// ---------------------------------------------------------------------------------------------
// HTTP request and response

TEST(HttpExchange, RequestBytesAndHostLimit) {
    Buffer request;
    const uint8_t body[] = {'A', 'B', '\n'};
    ASSERT_TRUE(ComposeHttpPost("tsa.example", "/stamp?x", "application/octet-stream", "application/octet-stream", body,
                                3, request));
    const std::string expected =
        "POST /stamp?x HTTP/1.0\r\nHost: tsa.example\r\nUser-Agent: Transport\r\nCache-Control: no-cache\r\n"
        "Content-Type: application/octet-stream\r\nAccept: application/octet-stream\r\nContent-Length: 3\r\n\r\nAB\n";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.Data()), request.Length()), expected);

    // Path bytes go out as they are (here ANSI bytes above 0x7F).
    ASSERT_TRUE(ComposeHttpPost("h", "/\xE9t\xE9", "a", "b", body, 0, request));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.Data()), 14), "POST /\xE9t\xE9 HTTP");

    EXPECT_TRUE(ComposeHttpPost(std::string(1015, 'h'), "/", "a", "b", body, 3, request));
    EXPECT_FALSE(ComposeHttpPost(std::string(1016, 'h'), "/", "a", "b", body, 3, request));
}

TEST(HttpExchange, ResponseBody) {
    struct Case {
        std::string response;
        bool found;
        std::string body;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Type: x\r\nConnection: close\r\n\r\nQUJD\n", true, "QUJD\n"},
        {"HTTP/1.0 200 OK\r\n\r\nQUJD", true, "QUJD"},           // no header lines at all
        {"HTTP/1.0 200 OK\nA: b\r\n\r\nQUJD", true, "QUJD"},     // status line ended by LF alone
        {"HTTP/1.0 200 OK\r\nA: b\r\n\r\n", true, ""},
        {"HTTP/1.0 500 Internal Server Error\r\n\r\nQUJD", false, ""},
        {"HTTP/1.0 404 Not Found\r\n\r\n", false, ""},
        {"HTTP/1.0 200 OK", false, ""},                           // no complete status line
        {"HTTP/1.0 200 OK\r\nA: b\r\n", false, ""},               // no empty line
        {"", false, ""},
        {std::string("HTTP/1.0 2\0 200 OK\r\n\r\nQUJD", 24), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.response);
        Buffer response;
        response.Append(c.response.data(), static_cast<uint32_t>(c.response.size()));
        std::string body = "stale";
        EXPECT_EQ(TakeResponseBody(response, body), c.found);
        if (c.found) {
            EXPECT_EQ(body, c.body);
        }
    }
}

TEST(TimestampRequest, EncodingOfA128ByteSignature) {
    uint8_t signature[128];
    for (int i = 0; i < 128; ++i) signature[i] = static_cast<uint8_t>(255 - i);
    Buffer der;
    ASSERT_TRUE(EncodeTimestampRequest(signature, sizeof signature, der));
    ASSERT_EQ(der.Length(), 163u);
    EXPECT_EQ(ToHex(der.Data(), 20), "3081a0060a2b0601040182370302013081910609");
    // pkcs7-data, then [0] EXPLICIT OCTET STRING holding the signature itself.
    EXPECT_EQ(ToHex(der.Data() + 18, 11), "06092a864886f70d010701");
    EXPECT_EQ(ToHex(der.Data() + 29, 6), "a08183048180");
    EXPECT_EQ(memcmp(der.Data() + 35, signature, 128), 0);

    Buffer text;
    ASSERT_TRUE(EncodeBase64Lines(der.Data(), der.Length(), text));
    ASSERT_EQ(text.Length(), 224u);
    const std::string lines(reinterpret_cast<const char*>(text.Data()), text.Length());
    for (size_t end : {64u, 129u, 194u, 223u}) EXPECT_EQ(lines[end], '\n') << end;
    EXPECT_EQ(lines.find('\n'), 64u);
    EXPECT_EQ(lines.substr(0, 8), "MIGgBgor");
}

// ---------------------------------------------------------------------------------------------
// Socket layer

TEST(SocketLayer, StartsOnceAcrossThreadsAndInstallsTheRandomSource) {
    ASSERT_EQ(LiveSocketCount(), 0);
    ResetSocketLayerForTesting();
    RAND_set_rand_method(nullptr);  // the linked library's default
    std::atomic<int> created{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            CqelWinSocket socket;
            if (socket.Create()) ++created;
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(created.load(), 8);
    EXPECT_EQ(SocketLayerStartCount(), 1);
    EXPECT_EQ(LiveSocketCount(), 0);
    const RAND_METHOD* method = RAND_get_rand_method();
    ASSERT_NE(method, nullptr);
    EXPECT_EQ(method->bytes, &RandomBytesSource);
    // Later sockets start nothing again.
    { CqelWinSocket another; }
    EXPECT_EQ(SocketLayerStartCount(), 1);
}

TEST(SocketLayer, InFipsModeTheRandomSourceIsNotInstalled) {
    ResetSocketLayerForTesting();
    RAND_set_rand_method(nullptr);
    ASSERT_EQ(BindCryptoLibrary("fips_switch_ok.dll"), 0);
    ASSERT_TRUE(FipsMode());
    {
        CqelWinSocket socket;
        EXPECT_TRUE(socket.Create());
    }
    EXPECT_EQ(SocketLayerStartCount(), 1);
    EXPECT_NE(Crypto().RAND_get_rand_method()->bytes, &RandomBytesSource);
    EXPECT_NE(RAND_get_rand_method()->bytes, &RandomBytesSource);
    EXPECT_EQ(BindCryptoLibrary(nullptr), 0);
}

TEST(SocketLayer, ConnectFailures) {
    CqelWinSocket socket;
    ASSERT_TRUE(socket.Create());
    EXPECT_EQ(socket.Connect("name.invalid", 80), -1);
    EXPECT_EQ(socket.LastError(), kHostNotFound);
    EXPECT_EQ(WSAGetLastError(), kHostNotFound);
    EXPECT_EQ(socket.Connect("127.0.0.1", 70000), -1);
    EXPECT_EQ(socket.Connect("127.0.0.1", 0), -1);
}

// ---------------------------------------------------------------------------------------------
// Exchanges with the Python server

std::string DataPath(const char* name) { return std::string(TSA_DATA_DIR) + "/" + name; }

// Starts tsa_server.py once for the program.
class TsaServer : public testing::Environment {
public:
    void SetUp() override {
        port = test::TsaServerProcess::Start(PYTHON3_PROGRAM, TSA_SERVER_SCRIPT, OPENSSL_PROGRAM, TSA_DATA_DIR);
    }
    void TearDown() override { test::TsaServerProcess::Stop(port); }

    static inline int port = 0;
};

struct Pkcs7Deleter {
    void operator()(PKCS7* p7) const { PKCS7_free(p7); }
};
using Pkcs7Holder = std::unique_ptr<PKCS7, Pkcs7Deleter>;

// A SignedData made with the test signer's 1024-bit key, as a signature awaiting its time stamp.
Pkcs7Holder MakeSignedData() {
    const std::string cert_pem = ReadText(DataPath("signer.pem"));
    const std::string key_pem = ReadText(DataPath("signer.key"));
    BIO* cert_bio = BIO_new_mem_buf(cert_pem.data(), static_cast<int>(cert_pem.size()));
    BIO* key_bio = BIO_new_mem_buf(key_pem.data(), static_cast<int>(key_pem.size()));
    X509* cert = PEM_read_bio_X509(cert_bio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(key_bio, nullptr, nullptr, nullptr);
    BIO* content = BIO_new_mem_buf("program digest stand-in", -1);
    PKCS7* p7 = cert && key ? PKCS7_sign(cert, key, nullptr, content, PKCS7_BINARY) : nullptr;
    BIO_free(content);
    EVP_PKEY_free(key);
    X509_free(cert);
    BIO_free(key_bio);
    BIO_free(cert_bio);
    return Pkcs7Holder(p7);
}

Bytes Der(PKCS7* p7) {
    unsigned char* der = nullptr;
    const int length = i2d_PKCS7(p7, &der);
    Bytes bytes(der, der + std::max(length, 0));
    OPENSSL_free(der);
    return bytes;
}

std::string ServerUrl(const std::string& mode, const char* scheme = "http", const char* host = "127.0.0.1") {
    return std::string(scheme) + "://" + host + ":" + std::to_string(TsaServer::port) + "/" + mode;
}

PKCS7_SIGNER_INFO* FirstSigner(PKCS7* p7) { return sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0); }

class Timestamp : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(TsaServer::port, 0) << "tsa_server.py did not start";
        signed_data = MakeSignedData();
        ASSERT_TRUE(signed_data);
        HttpExchangeLimits limits;
        limits.deadline_ms = 4000;
        SetTimestampLimitsForTesting(limits);
    }
    void TearDown() override { SetTimestampLimitsForTesting(HttpExchangeLimits{}); }

    // The answer's certificates were added last to first, and its first signer info became the
    // one countersignature of our first signer, over our signature value.
    void ExpectStamped(const char* trace) {
        SCOPED_TRACE(trace);
        const std::string answer_der = ReadText(DataPath("last_response.der"));
        const unsigned char* cursor = reinterpret_cast<const unsigned char*>(answer_der.data());
        Pkcs7Holder answer(d2i_PKCS7(nullptr, &cursor, static_cast<long>(answer_der.size())));
        ASSERT_TRUE(answer);
        STACK_OF(X509)* theirs = answer->d.sign->cert;
        STACK_OF(X509)* ours = signed_data->d.sign->cert;
        ASSERT_EQ(sk_X509_num(theirs), 2);
        ASSERT_EQ(sk_X509_num(ours), 3);
        EXPECT_EQ(X509_cmp(sk_X509_value(ours, 1), sk_X509_value(theirs, 1)), 0);
        EXPECT_EQ(X509_cmp(sk_X509_value(ours, 2), sk_X509_value(theirs, 0)), 0);

        PKCS7_SIGNER_INFO* signer = FirstSigner(signed_data.get());
        ASSERT_EQ(X509at_get_attr_count(signer->unauth_attr), 1);
        ASN1_TYPE* attribute = PKCS7_get_attribute(signer, NID_pkcs9_countersignature);
        ASSERT_NE(attribute, nullptr);
        ASSERT_EQ(attribute->type, V_ASN1_SEQUENCE);
        unsigned char* countersigner_der = nullptr;
        const int length = i2d_PKCS7_SIGNER_INFO(FirstSigner(answer.get()), &countersigner_der);
        ASSERT_GT(length, 0);
        EXPECT_EQ(attribute->value.sequence->length, length);
        EXPECT_EQ(memcmp(attribute->value.sequence->data, countersigner_der, length), 0);
        OPENSSL_free(countersigner_der);

        // The time-stamp authority signed our signature value (SHA-256 by openssl cms).
        ASN1_OCTET_STRING* digest = PKCS7_digest_from_attributes(FirstSigner(answer.get())->auth_attr);
        ASSERT_NE(digest, nullptr);
        uint8_t expected[SHA256_DIGEST_LENGTH];
        SHA256(signer->enc_digest->data, static_cast<size_t>(signer->enc_digest->length), expected);
        ASSERT_EQ(digest->length, SHA256_DIGEST_LENGTH);
        EXPECT_EQ(memcmp(digest->data, expected, sizeof expected), 0);

        // The stamped SignedData still encodes and decodes.
        const Bytes der = Der(signed_data.get());
        cursor = der.data();
        Pkcs7Holder again(d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size())));
        EXPECT_TRUE(again);
    }

    Pkcs7Holder signed_data;
};

TEST_F(Timestamp, StrictServerAcceptsTheRequestByteForByte) {
    PKCS7_SIGNER_INFO* signer = FirstSigner(signed_data.get());
    ASSERT_EQ(signer->enc_digest->length, 128);  // Content-Length 224
    const std::string signature = ToHex(signer->enc_digest->data, 128);
    // Host named without the port; the name is resolved.
    ASSERT_EQ(RequestTimestamp(signed_data.get(), ServerUrl("strict/localhost/" + signature, "http", "localhost")), 0)
        << ReadText(DataPath("mismatch.txt"));
    ExpectStamped("strict");
}

// RFC 3161: the request byte for byte for each digest (the nonce is the client's own), and the
// reply's token, unchanged, as the one unsigned attribute 1.3.6.1.4.1.311.3.3.1 of our signer.
TEST_F(Timestamp, Rfc3161RequestByteForByteAndTheTokenAsAttribute) {
    const std::pair<AuthenticodeDigest, const char*> digests[] = {
        {AuthenticodeDigest::kSha256, "sha256"}, {AuthenticodeDigest::kSha1, "sha1"},
        {AuthenticodeDigest::kSha384, "sha384"}, {AuthenticodeDigest::kSha512, "sha512"}};
    for (const auto& [digest, name] : digests) {
        SCOPED_TRACE(name);
        signed_data = MakeSignedData();
        PKCS7_SIGNER_INFO* signer = FirstSigner(signed_data.get());
        const std::string signature = ToHex(signer->enc_digest->data, signer->enc_digest->length);
        const std::string url = ServerUrl("rfc3161strict/localhost/" + signature + "/" + name, "http", "localhost");
        ASSERT_EQ(RequestTimestamp(signed_data.get(), url, digest), 0) << ReadText(DataPath("mismatch.txt"));

        const std::string reply_der = ReadText(DataPath("last_rfc3161_response.der"));
        const unsigned char* cursor = reinterpret_cast<const unsigned char*>(reply_der.data());
        TS_RESP* reply = d2i_TS_RESP(nullptr, &cursor, static_cast<long>(reply_der.size()));
        ASSERT_NE(reply, nullptr);
        const Bytes token = Der(TS_RESP_get_token(reply));
        TS_RESP_free(reply);
        ASSERT_EQ(X509at_get_attr_count(signer->unauth_attr), 1);
        ASN1_TYPE* attribute = PKCS7_get_attribute(signer, OBJ_txt2nid("1.3.6.1.4.1.311.3.3.1"));
        ASSERT_NE(attribute, nullptr);
        ASSERT_EQ(attribute->type, V_ASN1_SEQUENCE);
        EXPECT_EQ(Bytes(attribute->value.sequence->data, attribute->value.sequence->data + attribute->value.sequence->length),
                  token);
        EXPECT_EQ(sk_X509_num(signed_data->d.sign->cert), 1);  // the TSA's certificates stay in the token
    }
}

TEST_F(Timestamp, LenientAnswersAndOtherSchemes) {
    const char* urls[][2] = {{"ok", "http"}, {"noheaders", "http"}, {"ok", "https"}, {"ok", "tsa"}};
    for (const auto& [mode, scheme] : urls) {
        signed_data = MakeSignedData();
        ASSERT_EQ(RequestTimestamp(signed_data.get(), ServerUrl(mode, scheme)), 0) << scheme << " " << mode;
        ExpectStamped(mode);
    }
}

TEST_F(Timestamp, FailuresLeaveTheSignatureUnchanged) {
    const Bytes before = Der(signed_data.get());
    const char* modes[] = {"status500", "status404", "garbage", "notpkcs7", "notsigned", "nosigner", "truncated",
                           "close", "unknown"};
    for (const char* mode : modes) {
        EXPECT_EQ(RequestTimestamp(signed_data.get(), ServerUrl(mode)), 1) << mode;
        EXPECT_EQ(Der(signed_data.get()), before) << mode;
    }
    // RFC 3161: a rejection, a token for another nonce, none or another imprint, a token that is no
    // TSTInfo, the other protocol's answer, garbage; and a legacy request to an RFC 3161 server.
    const char* rfc3161_modes[] = {"rfc3161rejected", "rfc3161badnonce", "rfc3161nononce", "rfc3161badimprint",
                                   "rfc3161notst", "legacyanswer", "garbage", "status500"};
    for (const char* mode : rfc3161_modes) {
        EXPECT_EQ(RequestTimestamp(signed_data.get(), ServerUrl(mode), AuthenticodeDigest::kSha256), 1) << mode;
        EXPECT_EQ(Der(signed_data.get()), before) << mode;
    }
    EXPECT_EQ(RequestTimestamp(signed_data.get(), ServerUrl("rfc3161")), 1);
    EXPECT_EQ(Der(signed_data.get()), before);

    // A port where nothing listens.
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    closesocket(probe);
    const std::string refused = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/ok";

    const std::string urls[] = {
        refused,
        "http://name.invalid/ok",
        "127.0.0.1/ok",                                     // no "://"
        "file://" + std::string(TSA_DATA_DIR) + "/port",    // no file transport
        "http://" + std::string(1016, 'h') + "/ok",         // Host line limit
        "http://127.0.0.1:0/ok",
        "http://127.0.0.1:70000/ok",
        "http:///ok",                                       // no host
    };
    for (const std::string& url : urls) {
        EXPECT_EQ(RequestTimestamp(signed_data.get(), url), 1) << url.substr(0, 80);
        EXPECT_EQ(Der(signed_data.get()), before);
    }
}

TEST_F(Timestamp, DeadlineAndSizeLimit) {
    const Bytes before = Der(signed_data.get());
    for (const char* mode : {"silent", "trickle", "endless"}) {
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(RequestTimestamp(signed_data.get(), ServerUrl(mode)), 1) << mode;
        const ULONGLONG elapsed = GetTickCount64() - start;
        EXPECT_LT(elapsed, 8000u) << mode;
        // The silent and trickling servers are ended by the 4-second deadline, not sooner.
        if (strcmp(mode, "endless") != 0) {
            EXPECT_GE(elapsed, 3500u) << mode;
        }
        EXPECT_EQ(Der(signed_data.get()), before) << mode;
    }
    // The endless answer is refused by its size: with no deadline it still ends.
    SetTimestampLimitsForTesting(HttpExchangeLimits{0, 1048576});
    EXPECT_EQ(RequestTimestamp(signed_data.get(), ServerUrl("endless")), 1);
}

TEST_F(Timestamp, SignedDataWithoutSignerIsRefusedBeforeConnecting) {
    Pkcs7Holder data(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(data.get(), NID_pkcs7_data), 1);
    EXPECT_EQ(RequestTimestamp(data.get(), ServerUrl("ok")), 1);
    Pkcs7Holder no_signer(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(no_signer.get(), NID_pkcs7_signed), 1);
    EXPECT_EQ(RequestTimestamp(no_signer.get(), ServerUrl("ok")), 1);
}

testing::Environment* const tsa_server = testing::AddGlobalTestEnvironment(new TsaServer);

}  // namespace
