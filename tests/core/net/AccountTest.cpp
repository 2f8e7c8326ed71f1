// The account store's layout and reading rules, the account list written in one piece, the
// rules for names, ports and umasks, and ApplyAccount.

#include "core/net/Account.h"
#include "core/net/FtpFileSystem.h"
#include "core/platform/EventLoop.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::net;
using morvane::platform::Hive;
using morvane::platform::Registry;
using morvane::platform::RegKey;
using morvane::platform::RegValue;
using morvane::testing::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const Hive HKCU = Hive::CurrentUser;
std::string keyOf(const std::string& name) {
    return std::string(kAccountsRoot) + "\\" + name;
}

TAccount sample() {
    TAccount a;
    a.Name = "site";
    a.Hostname = "ftp.example.org";
    a.Username = "web";
    a.Password = "s3cret";
    a.Directory = "/var/www";
    a.UMask = 22;
    a.UseUMask = true;
    a.Port = 2121;
    a.UseFirewall = true;
    a.CloseConnection = true;
    a.EnableMirroring = true;
    a.MirrorDirectory = "/home/me/mirror";
    a.Tls = TTlsMode::Require;
    a.ClearTextAllowed = true;
    a.TrustedCertificates = {std::string(64, 'A'), std::string(64, 'B')};
    a.PassiveMode = false;
    a.PassiveUsesServerAddress = true;
    return a;
}

TEST(AccountStore, RoundTripKeepsEveryFieldWithTheValueNamesInTableOrder) {
    TempDir dir;
    Registry reg(dir.path());
    ASSERT_TRUE(SaveAccount(reg, "site", sample()));
    TAccount back;
    ASSERT_TRUE(LoadAccount(reg, "site", back));
    EXPECT_EQ(back, sample());
    EXPECT_THAT(reg.valueNames(HKCU, keyOf("site")),
                ElementsAre("Hostname", "Username", "Password", "Prompt for password", "Directory",
                            "Port", "Use firewall", "Close connection", "Enable mirroring",
                            "Use UMask", "UMask", "Mirror directory", "TLS", "Clear text allowed",
                            "Trusted certificates", "Passive mode", "Passive uses server address",
                            "Protocol"));

    // Switching the umask off removes the stored umask, so it cannot come back.
    TAccount off = sample();
    off.UseUMask = false;
    off.UMask = 0;
    ASSERT_TRUE(SaveAccount(reg, "site", off));
    EXPECT_FALSE(reg.valueExists(HKCU, keyOf("site"), "UMask"));
    ASSERT_TRUE(LoadAccount(reg, "site", back));
    EXPECT_EQ(back, off);
}

TEST(AccountStore, NewAccountDefaultsAndReadingRulesOfMissingOrOddValues) {
    TAccount fresh;
    EXPECT_EQ(fresh.Name, "New account");
    EXPECT_EQ(fresh.Port, 21);
    EXPECT_FALSE(fresh.UseUMask || fresh.UseFirewall || fresh.PromptForPassword ||
                 fresh.CloseConnection || fresh.EnableMirroring);
    EXPECT_TRUE(fresh.PassiveMode); // what works behind a router
    EXPECT_FALSE(fresh.PassiveUsesServerAddress);

    TempDir dir;
    Registry reg(dir.path());
    RegKey key(reg, HKCU, keyOf("odd"));
    ASSERT_TRUE(key.writeString("Hostname", "h"));
    ASSERT_TRUE(key.writeDword("Use firewall", 2));         // only 1 is on
    ASSERT_TRUE(key.writeDword("UMask", 77));               // ignored without "Use UMask"
    ASSERT_TRUE(key.writeString("Mirror directory", "/m")); // ignored without "Enable mirroring"
    TAccount a;
    ASSERT_TRUE(LoadAccount(reg, "odd", a));
    EXPECT_EQ(a.Name, "odd");
    EXPECT_EQ(a.Port, 21);
    EXPECT_FALSE(a.UseFirewall);
    EXPECT_EQ(a.UMask, 0);
    EXPECT_EQ(a.MirrorDirectory, "");
    EXPECT_FALSE(a.PassiveMode); // stored before the setting: it was made for active mode
    ASSERT_TRUE(SaveAccount(reg, "fresh", TAccount()));
    ASSERT_TRUE(LoadAccount(reg, "fresh", a));
    EXPECT_TRUE(a.PassiveMode);

    ASSERT_TRUE(key.writeDword("Use UMask", 0));
    ASSERT_TRUE(key.writeDword("Enable mirroring", 0));
    ASSERT_TRUE(LoadAccount(reg, "odd", a));
    EXPECT_FALSE(a.UseUMask);
    EXPECT_EQ(a.UMask, 77);
    EXPECT_EQ(a.MirrorDirectory, "/m");
}

TEST(AccountStore, PromptedPasswordIsNeverStoredAndMissingAccountsAreReported) {
    TempDir dir;
    Registry reg(dir.path());
    TAccount a = sample();
    a.PromptForPassword = true;
    ASSERT_TRUE(SaveAccount(reg, "p", a));
    EXPECT_EQ(RegKey(reg, HKCU, keyOf("p")).readString("Password"), "");

    std::string error;
    TAccount out = sample();
    EXPECT_FALSE(LoadAccount(reg, "nobody", out, &error));
    EXPECT_EQ(error, "Cannot find the specified account.");
    EXPECT_EQ(out, sample()); // untouched
    // A name that would reach into a nested key is no account.
    ASSERT_TRUE(SaveAccount(reg, "outer", a));
    reg.createKey(HKCU, keyOf("outer") + "\\inner");
    EXPECT_FALSE(LoadAccount(reg, "outer\\inner", out));
    EXPECT_FALSE(SaveAccount(reg, "a\\b", a, &error));
    EXPECT_EQ(error, "Unable to write to the registry.");
    EXPECT_FALSE(LoadAccount(reg, "", out));
}

TEST(AccountStore, SavingTheListReplacesAllAccountsInItsOrder) {
    TempDir dir;
    Registry reg(dir.path());
    for (const char* n : {"one", "two", "stale"}) {
        TAccount a = sample();
        a.Name = n;
        ASSERT_TRUE(SaveAccount(reg, n, a));
    }
    TAccount two = sample(), one = sample();
    two.Name = "two";
    two.Hostname = "changed";
    one.Name = "one";
    ASSERT_TRUE(SaveAccountList(reg, {two, one}));
    EXPECT_THAT(AccountNames(reg), ElementsAre("two", "one"));
    TAccount back;
    ASSERT_TRUE(LoadAccount(reg, "two", back));
    EXPECT_EQ(back.Hostname, "changed");

    // A list that cannot be stored leaves the accounts as they were.
    std::string error;
    EXPECT_FALSE(SaveAccountList(reg, {one, one}, &error));
    EXPECT_EQ(error, "Unable to write to the registry.");
    EXPECT_THAT(AccountNames(reg), ElementsAre("two", "one"));
}

TEST(AccountRules, NamesThatWouldOverwriteNestOrBreakReferencesAreRefused) {
    EXPECT_EQ(AccountNameProblem("web", {"other"}), "");
    EXPECT_THAT(AccountNameProblem("", {}), HasSubstr("name"));
    EXPECT_THAT(AccountNameProblem("Web", {"x", "WEB"}), HasSubstr("already an account"));
    for (const char* bad : {"a\\b", "a/b", "a:b", "tab\there"})
        EXPECT_THAT(AccountNameProblem(bad, {}), HasSubstr("may not contain")) << bad;
    EXPECT_THAT(AccountNameProblem("Quick-connect", {}), HasSubstr("reserved"));
    EXPECT_EQ(RemoveBlanks("my server "), "myserver");
}

TEST(AccountRules, UMaskTextAndSamplePermissions) {
    EXPECT_EQ(UMaskSample("022"), "-rw-r--r--");
    EXPECT_EQ(UMaskSample("22"), "-rw-r--r--");
    EXPECT_EQ(UMaskSample("027"), "-rw-r-----");
    EXPECT_EQ(UMaskSample("777"), "----------");
    EXPECT_EQ(UMaskSample("abc"), "-rw-rw-rw-"); // not a number: 0
    EXPECT_EQ(UMaskSample("089"), "-rw-rw-rw-"); // not octal
    EXPECT_EQ(UMaskSample(""), "-rw-rw-rw-");

    EXPECT_EQ(UMaskText(22), "022");
    EXPECT_EQ(UMaskText(0), "000");
    EXPECT_EQ(UMaskText(7022), "7022");
    EXPECT_EQ(UMaskFromText("022"), 22);
    EXPECT_EQ(UMaskFromText("0077"), 77);
    EXPECT_FALSE(UMaskFromText("08"));
    EXPECT_FALSE(UMaskFromText(""));
    EXPECT_FALSE(UMaskFromText("12345"));

    EXPECT_EQ(PortFromText("2121"), 2121);
    EXPECT_EQ(PortFromText(" 21 "), 21);
    for (const char* bad : {"", "0", "65536", "-1", "21x", "99999999999"})
        EXPECT_FALSE(PortFromText(bad)) << bad;
}

TRemoteLogin LoginAt(const std::string& host, int port = 0) {
    TRemoteLogin login;
    login.host = host;
    login.port = port;
    return login;
}

struct ApplyFixture : ::testing::Test {
    std::unique_ptr<morvane::platform::EventLoop> loop = morvane::platform::makePollEventLoop();
    TFtpFileSystem ftp{*loop};
    TAccountPrompts prompts;
    std::vector<std::string> asked;
    ApplyFixture() {
        prompts.password = [this](const std::string& caption) -> std::optional<std::string> {
            asked.push_back(caption);
            return std::string("typed");
        };
        prompts.quickConnect = [](std::string& h, std::string& u, std::string& p) {
            h = "quick.host";
            u = "quser";
            p = "qpass";
            return true;
        };
    }
};

TEST_F(ApplyFixture, PlainAndFirewalledAccounts) {
    TAccount a = sample();
    a.UseFirewall = false;
    ASSERT_TRUE(ApplyAccount(a, ftp, {"fw.local", "1080"}, prompts));
    EXPECT_EQ(ftp.Login().host, "ftp.example.org");
    EXPECT_EQ(ftp.Login().user, "web");
    EXPECT_EQ(ftp.Login().password, "s3cret");
    EXPECT_EQ(ftp.Login().port, 2121);
    EXPECT_FALSE(ftp.Login().passive);
    EXPECT_TRUE(ftp.Login().passiveUsesServerAddress);
    EXPECT_TRUE(asked.empty());
    a.PassiveMode = true;
    a.PassiveUsesServerAddress = false;
    ASSERT_TRUE(ApplyAccount(a, ftp, {}, prompts));
    EXPECT_TRUE(ftp.Login().passive);
    EXPECT_FALSE(ftp.Login().passiveUsesServerAddress);
    a.PassiveMode = false;

    a.UseFirewall = true;
    ASSERT_TRUE(ApplyAccount(a, ftp, {"fw.local", "1080"}, prompts));
    EXPECT_EQ(ftp.Login().host, "fw.local");
    EXPECT_EQ(ftp.Login().user, "web@ftp.example.org");
    EXPECT_EQ(ftp.Login().port, 1080);
    // A firewall port that is not a port number leaves the account's port.
    for (const char* port : {"", "abc", "70000"}) {
        ASSERT_TRUE(ApplyAccount(a, ftp, {"fw.local", port}, prompts));
        EXPECT_EQ(ftp.Login().port, 2121) << port;
    }
}

TEST_F(ApplyFixture, PasswordPromptAndItsCancel) {
    TAccount a = sample();
    a.PromptForPassword = true;
    ASSERT_TRUE(ApplyAccount(a, ftp, {}, prompts));
    EXPECT_THAT(asked, ElementsAre("Password for site"));
    EXPECT_EQ(ftp.Login().password, "typed");

    TFtpFileSystem other(*loop);
    other.SetLogin(LoginAt("before"));
    prompts.password = [](const std::string&) { return std::optional<std::string>(); };
    EXPECT_FALSE(ApplyAccount(a, other, {}, prompts));
    EXPECT_EQ(other.Login().host, "before"); // nothing applied on cancel
    prompts.password = nullptr;
    EXPECT_FALSE(ApplyAccount(a, other, {}, prompts));
}

TEST_F(ApplyFixture, QuickConnectUsesPort21PassiveAndItsCancelChangesNothing) {
    TAccount q;
    q.Name = kQuickConnectName;
    ftp.SetLogin(LoginAt("old.host", 2121)); // left from another account
    ASSERT_TRUE(ApplyAccount(q, ftp, {"fw", "1080"}, prompts));
    EXPECT_TRUE(ftp.Login().passive);
    EXPECT_FALSE(ftp.Login().passiveUsesServerAddress);
    EXPECT_EQ(ftp.Login().host, "quick.host");
    EXPECT_EQ(ftp.Login().user, "quser");
    EXPECT_EQ(ftp.Login().password, "qpass");
    EXPECT_EQ(ftp.Login().port, 21);

    prompts.quickConnect = [](std::string&, std::string&, std::string&) { return false; };
    ftp.SetLogin(LoginAt("kept"));
    EXPECT_FALSE(ApplyAccount(q, ftp, {}, prompts));
    EXPECT_EQ(ftp.Login().host, "kept");
}

TEST_F(ApplyFixture, SecurityFollowsTheAccountAndAsksOnlyWhatItDoesNotKnow) {
    std::vector<std::string> questions;
    prompts.clearText = [&](const TAccount& a, const std::string& host) {
        questions.push_back("clear " + a.Name + " " + host);
        return false;
    };
    prompts.certificate = [&](const TAccount& a, const std::string&, const TTlsCertificate& c) {
        questions.push_back("cert " + a.Name + " " + c.Fingerprint.substr(0, 5));
        return true;
    };
    TAccount a = sample();
    a.UseFirewall = false;
    a.ClearTextAllowed = false;
    a.TrustedCertificates = {std::string(64, 'A')};
    ASSERT_TRUE(ApplyAccount(a, ftp, {}, prompts));
    EXPECT_EQ(ftp.Login().tls, TTlsMode::Require);
    TTlsCertificate trusted, other;
    trusted.Fingerprint = "AA";
    for (int i = 1; i < 32; ++i)
        trusted.Fingerprint += ":aa"; // another spelling of the stored one
    other.Fingerprint = "BB:" + trusted.Fingerprint.substr(3);
    EXPECT_TRUE(ftp.Login().certificate(ftp.Login().host, trusted));
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(ftp.Login().certificate(ftp.Login().host, other));
    EXPECT_FALSE(ftp.Login().clearText(ftp.Login().host));
    EXPECT_THAT(questions, ElementsAre("cert site BB:aa", "clear site ftp.example.org"));

    // An account that already said yes is not asked again; without prompts the answer is no.
    prompts = {};
    ASSERT_TRUE(ApplyAccount(sample(), ftp, {}, prompts));
    EXPECT_TRUE(ftp.Login().clearText(ftp.Login().host));
    EXPECT_FALSE(ftp.Login().certificate(ftp.Login().host, other));

    TAccount q;
    q.Name = kQuickConnectName;
    prompts.quickConnect = [](std::string& h, std::string&, std::string&) {
        h = "quick.host";
        return true;
    };
    ASSERT_TRUE(ApplyAccount(q, ftp, {}, prompts));
    EXPECT_EQ(ftp.Login().tls, TTlsMode::Try);
}

} // namespace

TEST(AccountStore, TlsSettingOfNewOldAndOddAccounts) {
    EXPECT_EQ(TAccount().Tls, TTlsMode::Plain);
    TempDir dir;
    Registry reg(dir.path());
    // Stored before the setting existed, or with a value that means nothing: plain FTP.
    for (auto [value, mode] : {std::pair<int, TTlsMode>{-1, TTlsMode::Plain},
                               {0, TTlsMode::Plain},
                               {1, TTlsMode::Try},
                               {2, TTlsMode::Require},
                               {7, TTlsMode::Plain}}) {
        RegKey key(reg, HKCU, keyOf("old"));
        ASSERT_TRUE(key.writeString("Hostname", "h"));
        if (value >= 0) {
            ASSERT_TRUE(key.writeDword("TLS", std::uint32_t(value)));
        }
        TAccount a;
        ASSERT_TRUE(LoadAccount(reg, "old", a));
        EXPECT_EQ(a.Tls, mode) << value;
        EXPECT_FALSE(a.ClearTextAllowed);
        EXPECT_TRUE(a.TrustedCertificates.empty());
    }
}

TEST(AccountStore, RememberedAnswersChangeOnlyTheirValue) {
    TempDir dir;
    Registry reg(dir.path());
    TAccount a = sample();
    a.ClearTextAllowed = false;
    a.TrustedCertificates.clear();
    ASSERT_TRUE(SaveAccount(reg, "site", a));
    std::string print(64, 'c');
    std::string spelled;
    for (std::size_t i = 0; i < print.size(); i += 2)
        spelled += (i ? ":" : "") + print.substr(i, 2);
    EXPECT_TRUE(RememberCertificate(reg, "site", spelled));
    EXPECT_TRUE(RememberCertificate(reg, "site", print)); // the same one, not stored twice
    EXPECT_TRUE(RememberClearTextAllowed(reg, "site"));
    TAccount back;
    ASSERT_TRUE(LoadAccount(reg, "site", back));
    EXPECT_THAT(back.TrustedCertificates, ElementsAre(std::string(64, 'C')));
    EXPECT_TRUE(back.ClearTextAllowed);
    back.ClearTextAllowed = false;
    back.TrustedCertificates.clear();
    EXPECT_EQ(back, a);
    // Nothing to write into: no account of that name, the quick-connect entry, no fingerprint.
    EXPECT_FALSE(RememberCertificate(reg, "missing", print));
    EXPECT_FALSE(RememberClearTextAllowed(reg, "missing"));
    EXPECT_FALSE(reg.keyExists(HKCU, keyOf("missing")));
    EXPECT_FALSE(RememberCertificate(reg, kQuickConnectName, print));
    EXPECT_FALSE(RememberCertificate(reg, "site", "not a fingerprint"));
}

TEST(AccountStore, ProtocolIsStoredAndOldAccountsAreFtp) {
    TempDir dir;
    Registry reg(dir.path());
    RegKey key(reg, HKCU, keyOf("old"));
    ASSERT_TRUE(key.writeString("Hostname", "h"));
    TAccount a;
    ASSERT_TRUE(LoadAccount(reg, "old", a));
    EXPECT_EQ(a.Protocol, TRemoteProtocol::Ftp);
    EXPECT_EQ(a.Port, 21);
    // An SFTP account stored without a port gets SSH's.
    ASSERT_TRUE(key.writeString("Protocol", "SFTP"));
    ASSERT_TRUE(LoadAccount(reg, "old", a));
    EXPECT_EQ(a.Protocol, TRemoteProtocol::Sftp);
    EXPECT_EQ(a.Port, 22);
    ASSERT_TRUE(key.writeString("Protocol", "gopher"));
    ASSERT_TRUE(LoadAccount(reg, "old", a));
    EXPECT_EQ(a.Protocol, TRemoteProtocol::Ftp);

    a.Protocol = TRemoteProtocol::Sftp;
    a.Name = "s";
    ASSERT_TRUE(SaveAccount(reg, "s", a));
    EXPECT_EQ(RegKey(reg, HKCU, keyOf("s")).readString("Protocol"), "SFTP");
    TAccount back;
    ASSERT_TRUE(LoadAccount(reg, "s", back));
    EXPECT_EQ(back, a);
}

TEST(RemoteUrl, SchemesHostsPortsUsersAndBadInput) {
    auto u = ParseRemoteUrl("sftp://me@example.org:2222/var/www");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->protocol, TRemoteProtocol::Sftp);
    EXPECT_EQ(u->user, "me");
    EXPECT_EQ(u->host, "example.org");
    EXPECT_EQ(u->port, 2222);
    EXPECT_EQ(u->path, "/var/www");
    u = ParseRemoteUrl("ftps://[::1]:990");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->protocol, TRemoteProtocol::Ftp);
    EXPECT_EQ(u->tls, TTlsMode::Require);
    EXPECT_EQ(u->host, "::1");
    EXPECT_EQ(u->port, 990);
    u = ParseRemoteUrl(" FTP://host ");
    ASSERT_TRUE(u);
    EXPECT_TRUE(u->scheme);
    EXPECT_EQ(u->tls, TTlsMode::Plain);
    EXPECT_EQ(u->port, 0);
    u = ParseRemoteUrl("plain.host");
    ASSERT_TRUE(u);
    EXPECT_FALSE(u->scheme);
    EXPECT_EQ(u->host, "plain.host");
    u = ParseRemoteUrl("fe80::1"); // a bare IPv6 address is a host, not a port
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "fe80::1");
    for (const char* bad : {"http://host", "sftp://", "sftp://host:0", "sftp://host:99999",
                            "sftp://host:port", "sftp://[::1", "", "sftp://user@"})
        EXPECT_FALSE(ParseRemoteUrl(bad)) << bad;
}

TEST(ApplySftp, KeysFirstPasswordOnlyWhenAskedAndNoFtpOptions) {
    auto loop = morvane::platform::makePollEventLoop();
    TAccount a = sample();
    a.Protocol = TRemoteProtocol::Sftp;
    a.Port = 22;
    a.Password.clear();
    a.UseFirewall = true; // meaningless for SSH
    auto fs = MakeFileSystem(*loop, a);
    TAccountPrompts prompts;
    int asked = 0;
    prompts.askPassword = [&](const TAccount&) -> std::optional<std::string> {
        ++asked;
        return std::string("typed");
    };
    std::vector<std::string> questions;
    prompts.hostKey = [&](const TAccount& account, const std::string& host, const THostKey& key) {
        questions.push_back(account.Name + " " + host + " " + key.fingerprint);
        return THostKeyAnswer::Once;
    };
    ASSERT_TRUE(ApplyAccount(a, *fs, {"fw.local", "1080"}, prompts));
    const TRemoteLogin& login = fs->Login();
    EXPECT_EQ(login.protocol, TRemoteProtocol::Sftp);
    EXPECT_EQ(login.host, "ftp.example.org");
    EXPECT_EQ(login.user, "web");
    EXPECT_EQ(login.port, 22);
    EXPECT_EQ(login.tls, TTlsMode::Plain);
    EXPECT_EQ(asked, 0); // a key may do: not asked up front
    ASSERT_TRUE(login.askPassword);
    EXPECT_EQ(login.askPassword(), "typed");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(login.hostKey("h", {"ssh-ed25519", "SHA256:x"}), THostKeyAnswer::Once);
    EXPECT_THAT(questions, ElementsAre("site h SHA256:x"));
    EXPECT_FALSE(login.passphrase("/k")); // no prompt: the key is skipped
}

TEST(ApplySftp, QuickConnectTakesAUrlAndSwitchesProtocol) {
    auto loop = morvane::platform::makePollEventLoop();
    TAccount q;
    q.Name = kQuickConnectName;
    auto fs = MakeFileSystem(*loop, q);
    TAccountPrompts prompts;
    std::string typed = "sftp://deploy@web.example:2200/srv";
    prompts.quickConnect = [&](std::string& h, std::string& u, std::string& p) {
        h = typed;
        u = "ignored";
        p = "pw";
        return true;
    };
    ASSERT_TRUE(ApplyAccount(q, *fs, {}, prompts));
    EXPECT_EQ(fs->Login().protocol, TRemoteProtocol::Sftp);
    EXPECT_EQ(fs->Login().host, "web.example");
    EXPECT_EQ(fs->Login().user, "deploy");
    EXPECT_EQ(fs->Login().port, 2200);
    EXPECT_EQ(fs->Login().password, "pw");
    EXPECT_EQ(fs->Login().directory, "/srv");
    typed = "ftp.example";
    ASSERT_TRUE(ApplyAccount(q, *fs, {}, prompts));
    EXPECT_EQ(fs->Login().protocol, TRemoteProtocol::Ftp);
    EXPECT_EQ(fs->Login().port, 21);
    EXPECT_EQ(fs->Login().user, "ignored");
    EXPECT_EQ(fs->Login().tls, TTlsMode::Try);
    EXPECT_EQ(fs->Login().directory, "");
    typed = "sftp://web.example";
    ASSERT_TRUE(ApplyAccount(q, *fs, {}, prompts));
    EXPECT_EQ(fs->Login().port, 22);
    typed = "gopher://x";
    EXPECT_FALSE(ApplyAccount(q, *fs, {}, prompts));
}
