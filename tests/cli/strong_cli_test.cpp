// tolvex-cli with strong files, the real program in child processes: round trips through
// every way in, one message and nothing left for every failure, the prompt, info.
#include "cli_support.h"
#include "exit_codes.h"
#include "halvet_tolvex.h"
#include "layout.h"
#include "strong_format.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace cli_test;
using namespace cli;

namespace {

const std::string kPass = "TOLVEX_PASSPHRASE=  blue harbour 7  ";
const std::string kDamaged = "wrong passphrase or damaged file";
const std::string kNotOpened = "not a Tolvex file, or the passphrase is wrong";

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

RunResult run(const TempDir &dir, std::vector<std::string> args,
              std::vector<std::string> env = {kPass}) {
    RunOptions o;
    o.workingDirectory = dir.path();
    o.environment = std::move(env);
    return runCli(args, o);
}

// Encrypts with the light preset: the key derivation is not what these tests look at.
RunResult encryptStrong(const TempDir &dir, std::vector<std::string> args,
                        std::vector<std::string> env = {kPass}) {
    args.insert(args.begin(), {"encrypt", "--strong", "--kdf", "interactive"});
    return run(dir, std::move(args), std::move(env));
}

void expectNoLeftovers(const std::string &folder) {
    for (const auto &name : listTree(folder))
        EXPECT_EQ(name.find(".tolvex"), std::string::npos) << name;
}

TEST(StrongCli, RoundTripRestoresTheNameForEachKind) {
    for (const auto &[kind, extension] : std::vector<std::pair<std::string, std::string>>{
             {"none", ".tvx"}, {"png", ".png"}, {"avi", ".avi"}, {"zip", ".zip"}}) {
        SCOPED_TRACE(kind);
        TempDir dir;
        const Bytes content = randomBytes(3 * strong::kChunkSize + 11, 5);
        writeFile(dir / "holiday.jpg", content);
        const RunResult e = encryptStrong(dir, {"--disguise", kind, "holiday.jpg"});
        ASSERT_EQ(e.status, kExitOk) << e.err;
        const std::string disguised = "holiday" + extension;
        ASSERT_TRUE(exists(dir / disguised)) << disguised;
        const RunResult d = run(dir, {"decrypt", "--output-dir", "out", disguised});
        ASSERT_EQ(d.status, kExitOk) << d.err;
        EXPECT_EQ(readFile(dir / "out/holiday.jpg"), content);
        expectNoLeftovers(dir.path());
    }
}

TEST(StrongCli, PassphraseFromAKeyFileMatchesTheEnvironment) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("key file"));
    writeFile(dir / "pass", std::string("blue harbour 7\n"));
    ASSERT_EQ(encryptStrong(dir, {"--key-file", "pass", "a.txt"}, {}).status, kExitOk);
    const RunResult d = run(dir, {"decrypt", "-o", "b", "a.tvx"});
    ASSERT_EQ(d.status, kExitOk) << d.err;
    EXPECT_EQ(readFile(dir / "b.txt"), readFile(dir / "a.txt"));
}

TEST(StrongCli, FolderWithCompressAndExtract) {
    TempDir dir;
    test_files::makeFolder(dir / "photos");
    test_files::makeFolder(dir / "photos/2024");
    writeFile(dir / "photos/2024/beach.jpg", randomBytes(70000, 1));
    writeFile(dir / "photos/notes.txt", std::string("notes"));
    const RunResult e = encryptStrong(dir, {"--compress", "--disguise", "zip", "photos/"});
    ASSERT_EQ(e.status, kExitOk) << e.err;
    const RunResult x =
        run(dir, {"decrypt", "--extract", "--output-dir", "restored", "photos.zip"});
    ASSERT_EQ(x.status, kExitOk) << x.err;
    EXPECT_EQ(readFile(dir / "restored/photos/2024/beach.jpg"),
              readFile(dir / "photos/2024/beach.jpg"));
    EXPECT_EQ(readFile(dir / "restored/photos/notes.txt"), readFile(dir / "photos/notes.txt"));
    // Without --extract the archive comes out under its recorded name.
    const RunResult a = run(dir, {"decrypt", "--output-dir", "archive", "photos.zip"});
    ASSERT_EQ(a.status, kExitOk) << a.err;
    EXPECT_TRUE(exists(dir / "archive/photos.lzh"));
    expectNoLeftovers(dir.path());
}

TEST(StrongCli, SeveralInputsWithJobs) {
    TempDir dir;
    std::vector<std::string> inputs;
    for (int i = 0; i < 4; ++i) {
        inputs.push_back("f" + std::to_string(i) + ".bin");
        writeFile(dir / inputs.back(), randomBytes(size_t(i) * 40000, uint32_t(i)));
    }
    auto args = inputs;
    args.insert(args.begin(), {"--jobs", "3", "--disguise", "wav", "--output-dir", "enc"});
    ASSERT_EQ(encryptStrong(dir, args).status, kExitOk);
    const RunResult d = run(dir, {"decrypt", "--jobs", "3", "--output-dir", "dec", "enc/f0.wav",
                                  "enc/f1.wav", "enc/f2.wav", "enc/f3.wav"});
    ASSERT_EQ(d.status, kExitOk) << d.err;
    for (const auto &name : inputs)
        EXPECT_EQ(readFile(dir / ("dec/" + name)), readFile(dir / name)) << name;
}

TEST(StrongCli, WrongPassphraseGivesOneMessageAndLeavesNothing) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("secret"));
    ASSERT_EQ(encryptStrong(dir, {"--disguise", "png", "a.txt"}).status, kExitOk);
    ASSERT_EQ(::unlink((dir / "a.txt").c_str()), 0);
    const RunResult d = run(dir, {"decrypt", "a.png"}, {"TOLVEX_PASSPHRASE=blue harbour 8"});
    // A wrong passphrase and a file that is not ours cannot be told apart: one message.
    EXPECT_EQ(d.status, kExitWrongKey);
    EXPECT_TRUE(contains(d.err, kNotOpened)) << d.err;
    EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"a.png"});
    // A real picture, not one of ours, gets the same message, never "not encoded".
    writeFile(dir / "real.bmp", randomBytes(3000, 12));
    const RunResult other = run(dir, {"decrypt", "real.bmp"});
    EXPECT_EQ(other.status, kExitWrongKey);
    EXPECT_TRUE(contains(other.err, kNotOpened)) << other.err;
}

// Damaged copies of a strong file opened with the right passphrase: a changed byte in the
// content, cut short. Each fails with the one message, and an existing file of the output's
// name survives even --force.
TEST(StrongCli, DamagedFilesFailAndKeepTheExistingOutput) {
    TempDir dir;
    const Bytes content = randomBytes(2 * strong::kChunkSize + 100, 9);
    writeFile(dir / "a.dat", content);
    ASSERT_EQ(encryptStrong(dir, {"a.dat"}).status, kExitOk);
    const Bytes file = *readFile(dir / "a.tvx");
    const size_t firstContent = strong::kBodyOpeningSize;
    std::vector<Bytes> bad;
    for (size_t at : {firstContent + 5, file.size() - 1}) {
        Bytes changed = file;
        changed[at] ^= 0x20;
        bad.push_back(changed);
    }
    bad.emplace_back(file.begin(),
                     file.begin() + long(firstContent + strong::kChunkSize + strong::kTagSize));
    Bytes appended = file;
    appended.insert(appended.end(), file.end() - 50, file.end());
    bad.push_back(appended);

    writeFile(dir / "out.dat", std::string("keep me"));
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        writeFile(dir / "bad.tvx", bad[i]);
        const RunResult d = run(dir, {"decrypt", "--force", "-o", "out", "bad.tvx"});
        EXPECT_EQ(d.status, kExitWrongKey) << d.err;
        EXPECT_TRUE(contains(d.err, kDamaged)) << d.err;
        EXPECT_EQ(readFile(dir / "out.dat"), Bytes({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
        expectNoLeftovers(dir.path());
    }
}

TEST(StrongCli, DotFileComesBackUnderItsOwnName) {
    TempDir dir;
    writeFile(dir / ".bashrc", std::string("alias l=ls"));
    ASSERT_EQ(encryptStrong(dir, {"--output-dir", "enc", ".bashrc"}).status, kExitOk);
    ASSERT_TRUE(exists(dir / "enc/.bashrc.tvx"));
    const RunResult d = run(dir, {"decrypt", "enc/.bashrc.tvx"});
    ASSERT_EQ(d.status, kExitOk) << d.err;
    EXPECT_EQ(readFile(dir / "enc/.bashrc"), readFile(dir / ".bashrc"));
}

// The file-size limit stops the decrypted output part way: reported as a write failure, or
// the process killed by SIGXFSZ; either way no output appears and an existing one survives,
// and the next run in the folder removes what the killed one left.
TEST(StrongCli, FileSizeLimitWhileDecryptingLeavesNothing) {
    for (const bool kills : {false, true}) {
        SCOPED_TRACE(kills);
        TempDir dir;
        writeFile(dir / "big.bin", randomBytes(600000, 8));
        ASSERT_EQ(encryptStrong(dir, {"--disguise", "cab", "big.bin"}).status, kExitOk);
        writeFile(dir / "out.bin", std::string("old"));
        RunOptions o;
        o.workingDirectory = dir.path();
        o.environment = {kPass};
        o.fileSizeLimit = 200000;
        o.limitKills = kills;
        const RunResult d = runCli({"decrypt", "--force", "-o", "out", "big.cab"}, o);
        EXPECT_EQ(d.status, kills ? 128 + SIGXFSZ : int(kExitCannotWrite)) << d.err;
        EXPECT_EQ(readFile(dir / "out.bin"), Bytes({'o', 'l', 'd'}));
        const RunResult again = run(dir, {"decrypt", "--force", "-o", "out", "big.cab"});
        EXPECT_EQ(again.status, kExitOk) << again.err;
        EXPECT_EQ(readFile(dir / "out.bin"), readFile(dir / "big.bin"));
        expectNoLeftovers(dir.path());
    }
}

TEST(StrongCli, ExistingOutputNeedsForce) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("new"));
    ASSERT_EQ(encryptStrong(dir, {"a.txt"}).status, kExitOk);
    writeFile(dir / "a.txt", std::string("old"));
    const RunResult refused = run(dir, {"decrypt", "a.tvx"});
    EXPECT_EQ(refused.status, kExitOutputExists) << refused.err;
    EXPECT_EQ(readFile(dir / "a.txt"), Bytes({'o', 'l', 'd'}));
    const RunResult forced = run(dir, {"decrypt", "--force", "a.tvx"});
    EXPECT_EQ(forced.status, kExitOk) << forced.err;
    EXPECT_EQ(readFile(dir / "a.txt"), Bytes({'n', 'e', 'w'}));
    expectNoLeftovers(dir.path());
}

// A picture disguised as a picture of its own type decrypts to the disguised file's own name:
// that must never replace the input, --force or not.
TEST(StrongCli, OutputThatWouldBeTheInputIsRefused) {
    TempDir dir;
    writeFile(dir / "pic.png", randomBytes(500, 3));
    ASSERT_EQ(encryptStrong(dir, {"--disguise", "png", "--output-dir", "x", "pic.png"}).status,
              kExitOk);
    const Bytes encrypted = *readFile(dir / "x/pic.png");
    const RunResult d = run(dir, {"decrypt", "--force", "x/pic.png"});
    EXPECT_EQ(d.status, kExitSameFile) << d.err;
    EXPECT_EQ(readFile(dir / "x/pic.png"), encrypted);
    expectNoLeftovers(dir.path());
}

// Without the passphrase info says only what the file shows of itself; with it, the kind,
// the version and the key derivation, never the content's name or size.
TEST(StrongCli, InfoShowsTheDisguiseAndTheKeyDerivationOnlyWithThePassphrase) {
    TempDir dir;
    writeFile(dir / "budget.ods", randomBytes(1000, 4));
    ASSERT_EQ(encryptStrong(dir, {"--disguise", "jpg", "budget.ods"}).status, kExitOk);
    const RunResult blind = run(dir, {"info", "budget.jpg"}, {});
    EXPECT_FALSE(contains(blind.out, "strong (format")) << blind.out;
    EXPECT_TRUE(contains(blind.out, "without its passphrase")) << blind.out;
    const RunResult i = run(dir, {"info", "budget.jpg"});
    EXPECT_EQ(i.status, kExitOk);
    EXPECT_TRUE(contains(i.out, "jpg (kind 3)")) << i.out;
    EXPECT_TRUE(contains(i.out, "strong (format version 2)")) << i.out;
    EXPECT_TRUE(contains(i.out, "Argon2id, 2 passes, 64 MiB (interactive)")) << i.out;
    EXPECT_FALSE(contains(i.out, "ods")) << i.out;
    EXPECT_FALSE(contains(i.out, "1000")) << i.out;
    // The same from a key file.
    writeFile(dir / "key", std::string("blue harbour 7\n"));
    const RunResult k = run(dir, {"info", "--key-file", "key", "budget.jpg"}, {});
    EXPECT_TRUE(contains(k.out, "strong (format version 2)")) << k.out;
}

TEST(StrongCli, DefaultPresetIsModerate) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("x"));
    ASSERT_EQ(run(dir, {"encrypt", "--strong", "a.txt"}).status, kExitOk);
    const RunResult i = run(dir, {"info", "a.tvx"});
    EXPECT_TRUE(contains(i.out, "Argon2id, 3 passes, 256 MiB (moderate)")) << i.out;
}

TEST(StrongCli, ClassicAndStrongFilesInOneRun) {
    TempDir dir;
    writeFile(dir / "c.txt", std::string("classic"));
    writeFile(dir / "s.txt", std::string("strong"));
    ASSERT_EQ(run(dir, {"encrypt", "c.txt"}, {"TOLVEX_KEY=1A2B"}).status, kExitOk);
    ASSERT_EQ(encryptStrong(dir, {"--disguise", "bmp", "s.txt"}).status, kExitOk);
    const RunResult d =
        run(dir, {"decrypt", "--output-dir", "out", "c.tvx", "s.bmp"}, {"TOLVEX_KEY=1A2B", kPass});
    ASSERT_EQ(d.status, kExitOk) << d.err;
    EXPECT_EQ(readFile(dir / "out/c.txt"), readFile(dir / "c.txt"));
    EXPECT_EQ(readFile(dir / "out/s.txt"), readFile(dir / "s.txt"));
}

TEST(StrongCli, UsageErrors) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("x"));
    EXPECT_EQ(run(dir, {"encrypt", "--kdf", "moderate", "a.txt"}).status, kExitUsage);
    EXPECT_EQ(run(dir, {"encrypt", "--strong", "--kdf", "huge", "a.txt"}).status, kExitUsage);
    EXPECT_EQ(run(dir, {"encrypt", "--strong", "--key", "1A2B", "a.txt"}).status, kExitUsage);
    EXPECT_EQ(run(dir, {"decrypt", "--strong", "a.txt"}).status, kExitUsage);
    const RunResult none = run(dir, {"encrypt", "--strong", "a.txt"}, {});
    EXPECT_EQ(none.status, kExitUsage);
    EXPECT_TRUE(contains(none.err, "TOLVEX_PASSPHRASE")) << none.err;
    EXPECT_EQ(run(dir, {"encrypt", "--strong", "a.txt"}, {"TOLVEX_PASSPHRASE= "}).status,
              kExitUsage);
    EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"a.txt"});
}

// Typed at a terminal: twice, without echo; a second passphrase that differs writes nothing.
TEST(StrongCli, PromptAsksTwiceWithoutEcho) {
    for (const bool same : {true, false}) {
        SCOPED_TRACE(same);
        TempDir dir;
        writeFile(dir / "a.txt", std::string("typed"));
        TerminalRun terminal(dir.path(), {"encrypt", "--strong", "--kdf", "interactive", "a.txt"},
                             "TOLVEX_PASSPHRASE");
        ASSERT_TRUE(terminal.started());
        ASSERT_TRUE(terminal.readUntil("Passphrase"));
        ASSERT_TRUE(terminal.type("quiet otter"));
        ASSERT_TRUE(terminal.readUntil("again"));
        ASSERT_TRUE(terminal.type(same ? "quiet otter" : "quiet oxter"));
        const std::string &seen = terminal.seen();
        const int status = terminal.finish();
        EXPECT_FALSE(contains(seen, "otter")) << seen;
        EXPECT_FALSE(contains(seen, "oxter")) << seen;
        if (same) {
            EXPECT_EQ(status, 0) << seen;
            const RunResult d =
                run(dir, {"decrypt", "-o", "b", "a.tvx"}, {"TOLVEX_PASSPHRASE=quiet otter"});
            EXPECT_EQ(d.status, kExitOk) << d.err;
            EXPECT_EQ(readFile(dir / "b.txt"), readFile(dir / "a.txt"));
        } else {
            EXPECT_EQ(status, kExitUsage) << seen;
            EXPECT_FALSE(exists(dir / "a.tvx"));
        }
    }
}

// One passphrase rule: typed at the prompt, given in TOLVEX_PASSPHRASE or in a key file, the
// same passphrase gives the same key, however long (up to 4096 bytes).
TEST(StrongCli, ALongPassphraseTypedOpensWithTheSameFromTheEnvironmentOrAKeyFile) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("typed"));
    std::string passphrase;
    for (int i = 0; passphrase.size() < 300; ++i)
        passphrase += "wörd" + std::to_string(i) + " "; // UTF-8, as a terminal sends it
    passphrase.pop_back();
    TerminalRun terminal(dir.path(), {"encrypt", "--strong", "--kdf", "interactive", "a.txt"},
                         "TOLVEX_PASSPHRASE");
    ASSERT_TRUE(terminal.started());
    ASSERT_TRUE(terminal.readUntil("Passphrase"));
    ASSERT_TRUE(terminal.type(passphrase));
    ASSERT_TRUE(terminal.readUntil("again"));
    ASSERT_TRUE(terminal.type(passphrase));
    ASSERT_EQ(terminal.finish(), 0) << terminal.seen();

    const RunResult env =
        run(dir, {"decrypt", "-o", "b", "a.tvx"}, {"TOLVEX_PASSPHRASE=" + passphrase});
    EXPECT_EQ(env.status, kExitOk) << env.err;
    writeFile(dir / "pass", passphrase + "\r\n");
    const RunResult file = run(dir, {"decrypt", "--key-file", "pass", "-o", "c", "a.tvx"}, {});
    EXPECT_EQ(file.status, kExitOk) << file.err;
    EXPECT_EQ(readFile(dir / "c.txt"), readFile(dir / "a.txt"));
}

TEST(StrongCli, PassphrasesAgainstTheRuleAreRefusedNeverCut) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("x"));
    // One word per line is not a passphrase of four words, nor the first word alone.
    writeFile(dir / "words", std::string("correct\nhorse\nbattery\nstaple\n"));
    const RunResult lines = encryptStrong(dir, {"--key-file", "words", "a.txt"}, {});
    EXPECT_EQ(lines.status, kExitUsage);
    EXPECT_TRUE(contains(lines.err, "more than one line")) << lines.err;
    const RunResult longer =
        encryptStrong(dir, {"a.txt"}, {"TOLVEX_PASSPHRASE=" + std::string(4097, 'p')});
    EXPECT_EQ(longer.status, kExitUsage);
    EXPECT_TRUE(contains(longer.err, "longer than 4096 bytes")) << longer.err;
    EXPECT_EQ(encryptStrong(dir, {"a.txt"}, {"TOLVEX_PASSPHRASE=\t\v\f\r\n "}).status, kExitUsage);
    EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"a.txt", "words"}));
    // The most the rule allows is taken whole.
    ASSERT_EQ(encryptStrong(dir, {"a.txt"}, {"TOLVEX_PASSPHRASE=" + std::string(4096, 'p')}).status,
              kExitOk);
    EXPECT_EQ(
        run(dir, {"decrypt", "-o", "b", "a.tvx"}, {"TOLVEX_PASSPHRASE=" + std::string(4095, 'p')})
            .status,
        kExitWrongKey);
}

// A run of classic and strong files reads standard input once, and says which source serves
// which files; one key file never silently serves both.
TEST(StrongCli, AMixedRunTellsWhichSourceServesWhichFiles) {
    TempDir dir;
    writeFile(dir / "c.txt", std::string("classic"));
    writeFile(dir / "s.txt", std::string("strong"));
    ASSERT_EQ(run(dir, {"encrypt", "c.txt"}, {"TOLVEX_KEY=1A2B"}).status, kExitOk);
    ASSERT_EQ(encryptStrong(dir, {"--disguise", "bmp", "s.txt"}).status, kExitOk);

    RunOptions o;
    o.workingDirectory = dir.path();
    o.standardInput = "1A2B\n";
    const RunResult refused =
        runCli({"decrypt", "--key-file", "-", "--output-dir", "out", "c.tvx", "s.bmp"}, o);
    EXPECT_EQ(refused.status, kExitUsage);
    EXPECT_TRUE(contains(refused.err, "cannot serve both")) << refused.err;
    EXPECT_FALSE(exists(dir / "out"));

    o.environment = {kPass};
    const RunResult served =
        runCli({"decrypt", "--key-file", "-", "--output-dir", "out", "c.tvx", "s.bmp"}, o);
    ASSERT_EQ(served.status, kExitOk) << served.err;
    EXPECT_TRUE(contains(served.err, "the key file serves the classic files; "
                                     "TOLVEX_PASSPHRASE the strong ones"))
        << served.err;
    EXPECT_EQ(readFile(dir / "out/c.txt"), readFile(dir / "c.txt"));
    EXPECT_EQ(readFile(dir / "out/s.txt"), readFile(dir / "s.txt"));
}

// Outputs are planned by the names strong files recorded, not by their disguises' names.
TEST(StrongCli, OutputsOfOneRunArePlannedByTheRecordedNames) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("classic a"));
    ASSERT_EQ(run(dir, {"encrypt", "-d", "png", "a.txt"}, {"TOLVEX_KEY=1A2B"}).status, kExitOk);
    writeFile(dir / "a.txt", std::string("strong a"));
    ASSERT_EQ(encryptStrong(dir, {"-d", "bmp", "a.txt"}).status, kExitOk);
    const RunResult clash =
        run(dir, {"decrypt", "--force", "--output-dir", "out", "a.png", "a.bmp"},
            {"TOLVEX_KEY=1A2B", kPass});
    EXPECT_EQ(clash.status, kExitSameFile) << clash.err;
    EXPECT_TRUE(contains(clash.err, "is also the output of 'a.png'") ||
                contains(clash.err, "is also the output of a.png"))
        << clash.err;
    EXPECT_TRUE(contains(clash.err, "1 of 2 converted")) << clash.err;
    EXPECT_EQ(readFile(dir / "out/a.txt"), Bytes({'c', 'l', 'a', 's', 's', 'i', 'c', ' ', 'a'}));

    // Two strong files of one base name that recorded different extensions do not clash.
    writeFile(dir / "photo.jpg", std::string("jpeg"));
    writeFile(dir / "photo.txt", std::string("text"));
    ASSERT_EQ(encryptStrong(dir, {"-d", "png", "photo.jpg"}).status, kExitOk);
    ASSERT_EQ(encryptStrong(dir, {"-d", "bmp", "photo.txt"}).status, kExitOk);
    const RunResult apart = run(dir, {"decrypt", "--output-dir", "back", "photo.png", "photo.bmp"});
    ASSERT_EQ(apart.status, kExitOk) << apart.err;
    EXPECT_EQ(readFile(dir / "back/photo.jpg"), readFile(dir / "photo.jpg"));
    EXPECT_EQ(readFile(dir / "back/photo.txt"), readFile(dir / "photo.txt"));
}

// info recognises whatever decrypt restores: a recorded extension with a space included.
TEST(StrongCli, InfoRecognisesAnExtensionWithASpace) {
    TempDir dir;
    writeFile(dir / "notes.my doc", std::string(500, 'n'));
    ASSERT_EQ(run(dir, {"encrypt", "-d", "png", "notes.my doc"}, {"TOLVEX_KEY=77"}).status,
              kExitOk);
    const RunResult i = run(dir, {"info", "notes.png"}, {});
    EXPECT_EQ(i.status, kExitOk) << i.out << i.err;
    EXPECT_TRUE(contains(i.out, "my doc")) << i.out;
    const RunResult d = run(dir, {"decrypt", "-o", "back", "notes.png"}, {"TOLVEX_KEY=77"});
    ASSERT_EQ(d.status, kExitOk) << d.err;
    EXPECT_EQ(readFile(dir / "back.my doc"), readFile(dir / "notes.my doc"));
}

// Names that no file system takes are refused as too long, before anything is written.
TEST(StrongCli, NamesTooLongSaySo) {
    TempDir dir;
    const std::string name(255, 'n');
    writeFile(dir / name, std::string("x"));
    for (const bool strong : {false, true}) {
        const RunResult r =
            strong ? encryptStrong(dir, {name}) : run(dir, {"encrypt", name}, {"TOLVEX_KEY=77"});
        EXPECT_EQ(r.status, kExitCannotWrite) << r.err;
        EXPECT_TRUE(contains(r.err, "name too long")) << r.err;
    }
    // A strong file whose recorded extension is longer than its output can carry.
    const std::string longExtension = "a." + std::string(250, 'e');
    writeFile(dir / longExtension, std::string("x"));
    ASSERT_EQ(encryptStrong(dir, {"-o", "z", longExtension}).status, kExitOk);
    const RunResult r = run(dir, {"decrypt", "-o", "longer-base", "z.tvx"});
    EXPECT_EQ(r.status, kExitCannotWrite) << r.err;
    EXPECT_TRUE(contains(r.err, "name too long")) << r.err;
    expectNoLeftovers(dir.path());
}

// What is recorded must come back: names a decrypted file may not have are refused when
// encrypting, classic and strong, by the program and by the library.
TEST(StrongCli, NamesNoDecryptedFileMayHaveAreRefusedWhenEncrypting) {
    TempDir dir;
    writeFile(dir / "a\x01"
                    "b.txt",
              std::string("x"));
    writeFile(dir / "c.t\x1b"
                    "x",
              std::string("x"));
    const RunResult s = encryptStrong(dir, {"a\x01"
                                            "b.txt"});
    EXPECT_EQ(s.status, kExitInputUnreadable) << s.err;
    EXPECT_TRUE(contains(s.err, "control character")) << s.err;
    const RunResult c = run(dir,
                            {"encrypt", "c.t\x1b"
                                        "x"},
                            {"TOLVEX_KEY=77"});
    EXPECT_EQ(c.status, kExitInputUnreadable) << c.err;
    EXPECT_EQ(makeCode(dir / "c.t\x1b"
                             "x",
                       dir / "c", 0x77, TOLVEX_MODE_ENCODE, 6),
              TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"a\x01"
                                                              "b.txt",
                                                              "c.t\x1b"
                                                              "x"}));
}

// info recognises version 1 files as decrypt does: one decrypt refuses is not called classic.
TEST(StrongCli, InfoReportsAStrongFileDecryptWouldRefuse) {
    TempDir dir;
    Bytes file = *readFile(std::string(TOLVEX_STRONG_VECTORS) + "/vector-png.png");
    file[tolvex::disguiseFor(6).length + 8] = 2; // another version
    writeFile(dir / "a.png", file);
    const RunResult i = run(dir, {"info", "a.png"}, {});
    EXPECT_EQ(i.status, kExitWrongKey);
    EXPECT_TRUE(contains(i.out, "strong, but a strong file of another version")) << i.out;
    EXPECT_EQ(run(dir, {"decrypt", "-o", "b", "a.png"}).status, kExitWrongKey);
}

// Content past what a kind holds is refused before anything is written, naming kinds that hold
// it. A sparse file has the size without the disk.
TEST(StrongCli, TooLargeForADisguiseIsRefusedNamingTheKindsThatHoldIt) {
    TempDir dir;
    const uint64_t size = strong::maxContent(12) + 1; // mp3
    {
        const int fd = ::open((dir / "big.bin").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(size)), 0);
        ::close(fd);
    }
    const RunResult e = encryptStrong(dir, {"-d", "mp3", "big.bin"});
    EXPECT_EQ(e.status, kExitInputUnreadable) << e.err;
    EXPECT_TRUE(contains(e.err, "more than a strong mp3 file holds")) << e.err;
    EXPECT_TRUE(contains(e.err, "disguises that hold it: none, bmp, cab")) << e.err;
    EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"big.bin"});
}

// Version 1 files still decrypt, recognised by their marker.
TEST(StrongCli, Version1FilesStillDecrypt) {
    TempDir dir;
    const std::string vectors = TOLVEX_STRONG_VECTORS;
    writeFile(dir / "v.avi", *readFile(vectors + "/vector-empty.avi"));
    writeFile(dir / "w.tvx", *readFile(vectors + "/vector-none.tvx"));
    const RunResult d = run(dir, {"decrypt", "--output-dir", "out", "v.avi", "w.tvx"},
                            {"TOLVEX_PASSPHRASE=vector passphrase"});
    EXPECT_EQ(d.status, kExitOk) << d.err;
    const std::string text = "Tolvex strong vector\n";
    EXPECT_EQ(readFile(dir / "out/w.txt"), Bytes(text.begin(), text.end()));
    EXPECT_TRUE(exists(dir / "out/v"));
    const RunResult i = run(dir, {"info", "v.avi"}, {});
    EXPECT_TRUE(contains(i.out, "strong (format version 1)")) << i.out;
}

} // namespace
