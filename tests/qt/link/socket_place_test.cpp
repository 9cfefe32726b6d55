// Where the link's sockets live and who may own that place: the user's runtime folder when there
// is one, else a private folder under the temporary folder, examined before any use.
#include "qt/link/link_client.h"
#include "qt/link/link_server.h"
#include "qt/link/socket_access.h"
#include "tests/qt/link/link_test_support.h"
#include "tests/support/temp_dir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace ubin::link;
using namespace ubin::link::test;
namespace fs = std::filesystem;

namespace {

// Sets an environment variable (or unsets it, with nullopt) for one test and restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name))
    {
        if (value) qputenv(name, QByteArray::fromStdString(*value));
        else qunsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_) qputenv(name_, old_);
        else qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

mode_t ModeOf(const fs::path& p)
{
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
}

std::string Utf8(const QString& s) { return s.toStdString(); }

// A served window and a client in the folders the environment names.
void ServeAndReach(const QString& service, const fs::path& expectedFolder)
{
    ServedWindow window(service);
    ASSERT_TRUE(window.server.Listen()) << Utf8(window.server.ErrorString());
    EXPECT_EQ(fs::path(window.server.SocketName().toStdString()), expectedFolder / service.toCaseFolded().toStdString());
    EXPECT_EQ(ModeOf(expectedFolder), 0700u);
    LinkClient client;
    ASSERT_TRUE(client.Connect(service, QStringLiteral("Form1"))) << Utf8(client.ErrorString());
    EXPECT_EQ(client.Request(QStringLiteral("IT1")), QStringLiteral("730"));
}

} // namespace

TEST(LinkSocketPlace, TheRuntimeFolderWhenSetElseAPrivateFolderUnderTheTemporaryFolder)
{
    ubin::test::TempDir runtime, tmp;
    ::chmod(runtime.path().c_str(), 0700);
    const std::string uid = std::to_string(::getuid());
    {
        ScopedEnv r("XDG_RUNTIME_DIR", runtime.path().string());
        ScopedEnv t("TMPDIR", tmp.path().string());
        EXPECT_EQ(LinkSocketFolder().toStdString(), (runtime / "ubin-link").string());
        ServeAndReach(UniqueService(), runtime / "ubin-link");
        EXPECT_FALSE(fs::exists(tmp / ("ubin-link-" + uid))) << "nothing goes to the temporary folder";
    }
    for (const std::optional<std::string>& unusable : {std::optional<std::string>(), std::optional<std::string>(""),
                                                        std::optional<std::string>("relative/run")}) {
        ScopedEnv r("XDG_RUNTIME_DIR", unusable);
        ScopedEnv t("TMPDIR", tmp.path().string());
        EXPECT_EQ(LinkSocketFolder().toStdString(), (tmp / ("ubin-link-" + uid)).string());
        ServeAndReach(UniqueService(), tmp / ("ubin-link-" + uid));
    }
}

TEST(LinkSocketPlace, AFolderOpenToOthersOrALinkIsRefusedAndNothingIsPutInIt)
{
    ubin::test::TempDir tmp, elsewhere;
    ScopedEnv r("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnv t("TMPDIR", tmp.path().string());
    const fs::path folder = tmp / ("ubin-link-" + std::to_string(::getuid()));
    const QString service = UniqueService();

    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0777);
    {
        ServedWindow window(service);
        EXPECT_FALSE(window.server.Listen());
        EXPECT_TRUE(window.server.ErrorString().contains(QStringLiteral("open to other users (mode 0777)")))
            << Utf8(window.server.ErrorString());
        EXPECT_TRUE(window.server.ErrorString().contains(QStringLiteral("chmod 700"))) << Utf8(window.server.ErrorString());
        LinkClient client;
        EXPECT_FALSE(client.Connect(service, QStringLiteral("Form1")));
        EXPECT_EQ(client.LastFailure(), LinkClient::Failure::Refused) << Utf8(client.ErrorString());
    }
    EXPECT_TRUE(fs::is_empty(folder));

    fs::remove(folder);
    fs::create_directory_symlink(elsewhere.path(), folder);
    {
        ServedWindow window(service);
        EXPECT_FALSE(window.server.Listen());
        EXPECT_TRUE(window.server.ErrorString().contains(QStringLiteral("is a symbolic link")))
            << Utf8(window.server.ErrorString());
    }
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST(LinkSocketPlace, AFolderHeldByAnotherUserIsRefusedNamingThatUser)
{
    // The decision, for any owner.
    const QString problem = LinkFolderProblem(QStringLiteral("/tmp/ubin-link-1000"), true, false, 65534, 040700, 1000);
    EXPECT_TRUE(problem.contains(UserDescription(65534))) << Utf8(problem);
    EXPECT_TRUE(problem.contains(QStringLiteral("(65534)"))) << Utf8(problem);
    EXPECT_TRUE(problem.contains(QStringLiteral("/tmp/ubin-link-1000"))) << Utf8(problem);
    EXPECT_TRUE(LinkFolderProblem(QStringLiteral("/x"), true, false, 1000, 040700, 1000).isEmpty());
    EXPECT_FALSE(LinkFolderProblem(QStringLiteral("/x"), true, false, 1000, 040750, 1000).isEmpty());
    EXPECT_FALSE(LinkFolderProblem(QStringLiteral("/x"), false, false, 1000, 0100600, 1000).isEmpty());

    // And on a real folder, which only the administrator can give to another user.
    if (::geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    ubin::test::TempDir tmp;
    ScopedEnv r("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnv t("TMPDIR", tmp.path().string());
    const fs::path folder = tmp / ("ubin-link-" + std::to_string(::getuid()));
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0700);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    ServedWindow window(UniqueService());
    EXPECT_FALSE(window.server.Listen());
    EXPECT_TRUE(window.server.ErrorString().contains(QStringLiteral("belongs to the user %1").arg(UserDescription(65534))))
        << Utf8(window.server.ErrorString());
}
