#include "platform/atomic_file.h"

#include "platform/module_error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using test_support::readFile;
using test_support::writeFile;

#ifndef _WIN32
// Writing `target` without root rights fails with "accès refusé".
bool refusedToNobody(const std::string &target)
{
    return test_support::runUnprivileged([&] {
        try {
            platform::writeFileAtomically(target, "x");
        } catch (const ModuleError &e) {
            return std::string(e.what()) == "Impossible d'écrire le fichier " + target + " : accès refusé.";
        }
        return false;
    }) == 0;
}
#endif

class AtomicFileTest : public testing::Test {
protected:
    // Names in the folder, to prove that no temporary file stays behind.
    [[nodiscard]] std::vector<std::string> entries() const { return test_support::entries(dir.path()); }

    test_support::TempDir dir;
};

TEST_F(AtomicFileTest, ReplacesAnExistingLongerFileEntirely)
{
    writeFile(dir.file("retour.xml"), std::string(1000, 'x'));
    platform::writeFileAtomically(dir.file("retour.xml"), "court");
    EXPECT_EQ(readFile(dir.file("retour.xml")), "court");
    EXPECT_EQ(entries(), std::vector<std::string>{"retour.xml"});
}

TEST_F(AtomicFileTest, WithoutCommitTheOldFileStaysAndNoTemporaryRemains)
{
    writeFile(dir.file("retour.xml"), "ancien");
    {
        platform::AtomicFile file(dir.file("retour.xml"));
        file.write("nouveau, jamais validé");
    }
    EXPECT_EQ(readFile(dir.file("retour.xml")), "ancien");
    EXPECT_EQ(entries(), std::vector<std::string>{"retour.xml"});
}

#ifndef _WIN32 // POSIX permissions, links and processes
TEST_F(AtomicFileTest, NewFileGetsUsualPermissionsAndReplacedFileKeepsItsOwn)
{
    platform::writeFileAtomically(dir.file("nouveau.xml"), "a");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("nouveau.xml").c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777U, 0666U & ~mask);

    writeFile(dir.file("garde.xml"), "a");
    ::chmod(dir.file("garde.xml").c_str(), 0640);
    platform::writeFileAtomically(dir.file("garde.xml"), "b");
    ASSERT_EQ(::stat(dir.file("garde.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777U, 0640U);
}
#endif

#ifndef _WIN32 // POSIX permissions, links and processes
TEST_F(AtomicFileTest, LinkIsFollowedAndKept)
{
    writeFile(dir.file("vrai.xml"), "ancien");
    fs::create_symlink(dir.file("vrai.xml"), dir.file("lien.xml"));
    platform::writeFileAtomically(dir.file("lien.xml"), "nouveau");
    EXPECT_TRUE(fs::is_symlink(dir.file("lien.xml")));
    EXPECT_EQ(readFile(dir.file("vrai.xml")), "nouveau");
}
#endif

TEST_F(AtomicFileTest, EmptyPathIsToldPlainly)
{
    EXPECT_EQ(test_support::errorOf([] { platform::writeFileAtomically("", "x"); }),
              "Aucun fichier à écrire : le chemin reçu est vide.");
}

TEST_F(AtomicFileTest, LongestFileNameStillFits)
{
    const std::string name(255, 'n');
    platform::writeFileAtomically(dir.file(name), "x");
    EXPECT_EQ(readFile(dir.file(name)), "x");
}

#ifndef _WIN32 // POSIX permissions, links and processes
TEST_F(AtomicFileTest, FileOfAnotherUserIsNotReplaced)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs a second user: the check runs as nobody when the tests run as root";
    ::chmod(dir.path().c_str(), 0777);
    writeFile(dir.file("autre.xml"), "à quelqu'un d'autre");
    ::chmod(dir.file("autre.xml").c_str(), 0644); // owned by the test's user, writable by it only
    const std::string target = dir.file("autre.xml");
    EXPECT_TRUE(refusedToNobody(target));
    EXPECT_EQ(readFile(target), "à quelqu'un d'autre");
}
#endif

struct RefusalCase {
    const char *name;
    const char *fragment;
};

class AtomicFileRefusalTest : public AtomicFileTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(AtomicFileRefusalTest, RefusesWithAFrenchMessageAndLeavesNothing)
{
    writeFile(dir.file("lecture_seule.xml"), "protégé");
    fs::permissions(dir.file("lecture_seule.xml"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directory(dir.file("dossier.xml"));
    const std::string target = dir.file(GetParam().name);
    const auto before = entries();
    try {
        platform::writeFileAtomically(target, "contenu");
        FAIL() << "no error for " << target;
    } catch (const ModuleError &e) {
        EXPECT_NE(std::string(e.what()).find("Impossible d'écrire le fichier " + target), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(GetParam().fragment), std::string::npos) << e.what();
    }
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(readFile(dir.file("lecture_seule.xml")), "protégé");
}

INSTANTIATE_TEST_SUITE_P(
    Targets, AtomicFileRefusalTest,
    testing::Values(RefusalCase{"absent/retour.xml", "le dossier n'existe pas"},
                    RefusalCase{"lecture_seule.xml", "lecture seule"},
                    RefusalCase{"dossier.xml", "c'est un dossier"}),
    [](const testing::TestParamInfo<RefusalCase> &param) {
        std::string name = param.param.name;
        name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }), name.end());
        return name;
    });

#ifndef _WIN32 // POSIX permissions, links and processes
// What a window manager's "End process" sends, at a few points of a large write: only the
// files that were there before remain, the old target unchanged.
class AtomicFileKilledTest : public AtomicFileTest, public testing::WithParamInterface<int> {};

TEST_P(AtomicFileKilledTest, LeavesNothingBehind)
{
    const int point = GetParam(); // 0: just opened, 1: half written, 2: all written, not committed
    writeFile(dir.file("ligne.bmp"), "ancienne image");
    const pid_t child = ::fork();
    if (child == 0) {
        platform::AtomicFile file(dir.file("ligne.bmp"));
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 16 * point; ++i)
            file.write(block);
        ::raise(SIGTERM);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(entries(), std::vector<std::string>{"ligne.bmp"});
    EXPECT_EQ(readFile(dir.file("ligne.bmp")), "ancienne image");
}

INSTANTIATE_TEST_SUITE_P(Points, AtomicFileKilledTest, testing::Values(0, 1, 2));
#endif

TEST_F(AtomicFileTest, CheckingAPlaceCreatesNothing)
{
    platform::checkWritable(dir.file("retour.xml"));
    EXPECT_TRUE(entries().empty());
    EXPECT_THROW(platform::checkWritable(dir.file("absent/retour.xml")), ModuleError);
}

#ifndef _WIN32 // POSIX permissions, links and processes
TEST_F(AtomicFileTest, FolderWithoutWritePermissionIsRefused)
{
    fs::create_directory(dir.file("ferme"));
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("ferme").c_str(), 0555);
    const std::string target = dir.file("ferme/retour.xml");
    EXPECT_TRUE(refusedToNobody(target));
    EXPECT_TRUE(fs::is_empty(dir.file("ferme")));
}
#endif

} // namespace
