// Opening links: the browser command line, the registry reads behind it, and OpenLink's
// outcomes with a test ".htm" class that starts the recorder.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link_opener.h"
#include "test_support.h"

using lumvane::BuildBrowserCommandLine;
using lumvane::LinkResult;

namespace {

// The arguments a program started with `commandLine` sees, parsed by the system.
std::vector<std::wstring> Arguments(const std::wstring& commandLine) {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* parsed = CommandLineToArgvW(commandLine.c_str(), &count);
    if (!parsed) return arguments;
    for (int index = 0; index < count; ++index) arguments.emplace_back(parsed[index]);
    LocalFree(parsed);
    return arguments;
}

// Lives under HKCU so that it cannot disturb anything else.
const wchar_t kTestKey[] = L"Software\\Kestrane\\LumvaneTest";

struct TestKeyCleanup {
    ~TestKeyCleanup() { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }
};

// A link that no program, file or protocol handler answers.
const wchar_t kUnopenableLink[] = L"Z:\\lumvane no such folder\\product page";

}  // namespace

TEST(BrowserCommandLine, PlaceholderForms) {
    const std::wstring link = L"C:\\some dir\\page one";
    // A quoted placeholder gets the link in quotes: one argument, spaces included.
    const std::wstring quoted = BuildBrowserCommandLine(L"\"C:\\browser.exe\" \"%1\"", link);
    EXPECT_EQ(quoted, L"\"C:\\browser.exe\" \"C:\\some dir\\page one\"");
    EXPECT_EQ(Arguments(quoted), (std::vector<std::wstring>{L"C:\\browser.exe", link}));
    // Whatever followed the placeholder is dropped.
    EXPECT_EQ(BuildBrowserCommandLine(L"browser.exe -new \"%1\" -tail", L"x"), L"browser.exe -new \"x\"");
    // A bare placeholder and none at all get the link after a space, as it stands.
    EXPECT_EQ(BuildBrowserCommandLine(L"browser.exe %1", L"http://a.test/"), L"browser.exe http://a.test/");
    EXPECT_EQ(BuildBrowserCommandLine(L"browser.exe -nohome", L"http://a.test/"),
              L"browser.exe -nohome http://a.test/");
    // The quoted form is looked for first, then the first bare one.
    EXPECT_EQ(BuildBrowserCommandLine(L"b.exe \"%1\" %1", L"x"), L"b.exe \"x\"");
    EXPECT_EQ(BuildBrowserCommandLine(L"b.exe %1 %1", L"x"), L"b.exe x");
    EXPECT_EQ(BuildBrowserCommandLine(L"b.exe\"%1\"", L"x"), L"b.exe \"x\"");
}

TEST(BrowserCommandLine, LongCommandAndLinkStayWhole) {
    const std::wstring program = L"\"C:\\" + std::wstring(600, L'p') + L".exe\"";
    std::wstring link(1023, L'l');
    link[10] = L' ';
    const std::wstring commandLine = BuildBrowserCommandLine(program + L" \"%1\"", link);
    EXPECT_EQ(Arguments(commandLine), (std::vector<std::wstring>{program.substr(1, program.size() - 2), link}));
    const std::wstring huge(100000, L'h');
    EXPECT_EQ(BuildBrowserCommandLine(L"b.exe %1", huge).size(), 6 + huge.size());
}

TEST(RegistryText, ValuesWithoutTheirZeroOddSizesAndOtherTypes) {
    TestKeyCleanup cleanup;
    const std::wstring key = kTestKey;
    const wchar_t text[] = L"browserclass";
    // Stored without the terminating zero.
    ASSERT_TRUE(lumtest::SetDefaultValueBytes(HKEY_CURRENT_USER, key + L"\\nozero", REG_SZ, text, 12 * sizeof(wchar_t)));
    EXPECT_EQ(lumvane::ReadDefaultText(HKEY_CURRENT_USER, key + L"\\nozero"), L"browserclass");
    // An odd byte count: the half character is dropped.
    ASSERT_TRUE(lumtest::SetDefaultValueBytes(HKEY_CURRENT_USER, key + L"\\odd", REG_SZ, text, 7));
    EXPECT_EQ(lumvane::ReadDefaultText(HKEY_CURRENT_USER, key + L"\\odd"), L"bro");
    // Zeros inside end the text.
    const wchar_t embedded[] = L"one\0two";
    ASSERT_TRUE(lumtest::SetDefaultValueBytes(HKEY_CURRENT_USER, key + L"\\embedded", REG_SZ, embedded, sizeof embedded));
    EXPECT_EQ(lumvane::ReadDefaultText(HKEY_CURRENT_USER, key + L"\\embedded"), L"one");
    // Far beyond the 260 bytes a fixed buffer would hold.
    const std::wstring longText(3000, L'x');
    ASSERT_TRUE(lumtest::SetDefaultValueBytes(HKEY_CURRENT_USER, key + L"\\long", REG_SZ, longText.c_str(),
                                              static_cast<DWORD>(longText.size() * sizeof(wchar_t))));
    EXPECT_EQ(lumvane::ReadDefaultText(HKEY_CURRENT_USER, key + L"\\long"), longText);
    // REG_EXPAND_SZ is expanded.
    const wchar_t expandable[] = L"%SystemRoot%\\b.exe";
    ASSERT_TRUE(lumtest::SetDefaultValueBytes(HKEY_CURRENT_USER, key + L"\\expand", REG_EXPAND_SZ, expandable,
                                              sizeof expandable));
    wchar_t windows[MAX_PATH];
    GetEnvironmentVariableW(L"SystemRoot", windows, MAX_PATH);
    EXPECT_EQ(lumvane::ReadDefaultText(HKEY_CURRENT_USER, key + L"\\expand"), std::wstring(windows) + L"\\b.exe");
    // Not text, empty, or missing.
    const DWORD number = 7;
    ASSERT_TRUE(lumtest::SetDefaultValueBytes(HKEY_CURRENT_USER, key + L"\\dword", REG_DWORD, &number, 4));
    EXPECT_FALSE(lumvane::ReadDefaultText(HKEY_CURRENT_USER, key + L"\\dword"));
    ASSERT_TRUE(lumtest::SetDefaultValueBytes(HKEY_CURRENT_USER, key + L"\\empty", REG_SZ, L"", 0));
    EXPECT_FALSE(lumvane::ReadDefaultText(HKEY_CURRENT_USER, key + L"\\empty"));
    EXPECT_FALSE(lumvane::ReadDefaultText(HKEY_CURRENT_USER, key + L"\\absent"));
}

TEST(RegistryText, LongClassNameAndCommand) {
    // A class name near the key-name limit, so that with "\shell\open\command" the path is
    // longer than 260 characters, and a command of 600.
    const std::wstring className = L"LumvaneTest." + std::wstring(230, L'c');
    const std::wstring command = L"\"C:\\" + std::wstring(600, L'p') + L".exe\" \"%1\"";
    lumtest::HtmClassOverride htm(className, command);
    ASSERT_TRUE(htm.Ok());
    EXPECT_EQ(lumvane::ReadBrowserCommand(), command);
}

TEST(OpenLink, EmptyAndQuotedLinksStartNothing) {
    lumtest::RecorderFolder records;
    lumtest::HtmClassOverride htm(L"LumvaneTest.recorder", L"\"" + lumtest::RecorderPath() + L"\" \"%1\"");
    ASSERT_TRUE(htm.Ok());
    EXPECT_EQ(lumvane::OpenLink(L"", SW_SHOW), LinkResult::kEmpty);
    EXPECT_EQ(lumvane::OpenLink(L"Z:\\a\" \"extra argument", SW_SHOW), LinkResult::kRefused);
    EXPECT_EQ(lumvane::OpenLink(L"\"" + lumtest::RecorderPath() + L"\"", SW_SHOW), LinkResult::kRefused);
    lumtest::PumpMessages(700);
    EXPECT_TRUE(records.Records().empty());
}

TEST(OpenLink, ShellFirstThenTheHtmCommand) {
    lumtest::RecorderFolder records;
    lumtest::HtmClassOverride htm(L"LumvaneTest.recorder", L"\"" + lumtest::RecorderPath() + L"\" \"%1\"");
    ASSERT_TRUE(htm.Ok());
    // The shell opens a program by its path, with no arguments.
    EXPECT_EQ(lumvane::OpenLink(lumtest::RecorderPath(), SW_SHOW), LinkResult::kOpened);
    ASSERT_TRUE(records.WaitForRecords(1, 10000));
    EXPECT_EQ(records.Records()[0], std::vector<std::wstring>{});
    // What the shell cannot open goes to the ".htm" command as one argument.
    EXPECT_EQ(lumvane::OpenLink(kUnopenableLink, SW_SHOW), LinkResult::kOpened);
    ASSERT_TRUE(records.WaitForRecords(2, 10000));
    const auto all = records.Records();
    EXPECT_TRUE(std::find(all.begin(), all.end(), std::vector<std::wstring>{kUnopenableLink}) != all.end());
}

TEST(OpenLink, LongLinksGoStraightToTheHtmCommand) {
    lumtest::RecorderFolder records;
    lumtest::HtmClassOverride htm(L"LumvaneTest.recorder", L"\"" + lumtest::RecorderPath() + L"\" \"%1\"");
    ASSERT_TRUE(htm.Ok());
    std::vector<std::wstring> links;
    for (size_t length : {513u, 1000u, 1023u}) {
        std::wstring link = L"Z:\\lumvane missing\\";
        while (link.size() < length) link += L"seg ment ";
        link.resize(length);
        links.push_back(link);
        EXPECT_EQ(lumvane::OpenLink(link, SW_SHOW), LinkResult::kOpened) << length;
    }
    ASSERT_TRUE(records.WaitForRecords(3, 10000));
    auto all = records.Records();
    std::sort(all.begin(), all.end());
    std::vector<std::vector<std::wstring>> expected;
    for (const std::wstring& link : links) expected.push_back({link});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
}

TEST(OpenLink, NothingRegisteredFails) {
    lumtest::RecorderFolder records;
    {
        lumtest::HtmClassOverride noCommand(L"LumvaneTest.nocommand", std::nullopt);
        ASSERT_TRUE(noCommand.Ok());
        EXPECT_EQ(lumvane::OpenLink(kUnopenableLink, SW_SHOW), LinkResult::kFailed);
    }
    {
        lumtest::HtmClassOverride missingProgram(L"LumvaneTest.missing", L"\"Z:\\lumvane no such\\browser.exe\" \"%1\"");
        ASSERT_TRUE(missingProgram.Ok());
        EXPECT_EQ(lumvane::OpenLink(kUnopenableLink, SW_SHOW), LinkResult::kFailed);
    }
    lumtest::PumpMessages(300);
    EXPECT_TRUE(records.Records().empty());
}
