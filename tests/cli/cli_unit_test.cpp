// The command line's pieces on their own: key text, disguise names, options, exit status,
// the progress line, names, archiver command lines, recognition without the key and publishing.
#include "archiver_client.h"
#include "archiver_commands.h"
#include "cli_support.h"
#include "commands.h"
#include "engine.h"
#include "exit_codes.h"
#include "folders.h"
#include "halvet_tolvex.h"
#include "info.h"
#include "key_input.h"
#include "kinds.h"
#include "options.h"
#include "passphrase.h"
#include "paths.h"
#include "progress.h"
#include "publish.h"
#include "publishing.h"
#include "secret.h"
#include "staging_folder.h"
#include "transfers.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace cli;
using namespace cli_test;

namespace {

std::vector<std::string> words(std::initializer_list<const char *> list) {
    return {list.begin(), list.end()};
}

} // namespace

TEST(KeyText, FollowsTheWindowsRule) {
    EXPECT_EQ(keyCodeFromText("0"), 0u);
    EXPECT_EQ(keyCodeFromText("1a2B"), 0x1A2Bu);
    EXPECT_EQ(keyCodeFromText("7FFF"), 0x7FFFu);
    // Sixteen-bit values with the top bit set widen with their sign.
    EXPECT_EQ(keyCodeFromText("8000"), 0xFFFF8000u);
    EXPECT_EQ(keyCodeFromText("ffff"), 0xFFFFFFFFu);
    EXPECT_EQ(keyCodeFromText("00008000"), 0xFFFF8000u);
    EXPECT_EQ(keyCodeFromText("10000"), 0x10000u);
    EXPECT_EQ(keyCodeFromText("7fff8000"), 0x7FFF8000u);
    EXPECT_EQ(keyCodeFromText("FFFFFFFF"), 0xFFFFFFFFu);
}

TEST(KeyText, RefusesWhatIsNotOneToEightHexDigits) {
    for (const char *bad : {"", "123456789", "g", "12 34", "0x12", "-1", "+1", " 1", "１"})
        EXPECT_FALSE(keyCodeFromText(bad)) << '"' << bad << '"';
}

TEST(KeyText, TrimmedCutsAsciiWhiteSpaceOnly) {
    EXPECT_EQ(trimmed(" \t1A2B\r\n"), "1A2B");
    EXPECT_EQ(trimmed("\v\f x \f"), "x");
    EXPECT_EQ(trimmed("\n"), "");
    EXPECT_EQ(trimmed("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0") << "no-break space is kept";
}

TEST(KeySources, AKeyFileHoldsOneLineAndIsNeverCut) {
    TempDir dir;
    std::string error;
    writeFile(dir / "key", std::string("  beef \r\n"));
    EXPECT_EQ(readKeyFile(dir / "key", error), "  beef ") << "one CRLF dropped, the rest as is";
    writeFile(dir / "key", std::string("\n\nbeef\n\n"));
    EXPECT_EQ(readKeyFile(dir / "key", error), "beef") << "blank lines around it are harmless";
    writeFile(dir / "key", std::string("correct\nhorse\nbattery\nstaple\n"));
    EXPECT_EQ(readKeyFile(dir / "key", error), std::nullopt);
    EXPECT_NE(error.find("more than one line"), std::string::npos) << error;
    EXPECT_EQ(keyFileLine("a\r\nb", "here", error), std::nullopt);

    KeySources s;
    s.keyFile = dir / "key";
    s.keyFileText = "beef";
    s.environment = "1";
    EXPECT_EQ(obtainKey(s).key, 0xFFFFBEEFu) << "the key file wins over TOLVEX_KEY";
}

TEST(KeySources, MissingKeyFileSaysWhichFile) {
    std::string error;
    EXPECT_FALSE(readKeyFile("/nonexistent/key", error));
    EXPECT_NE(error.find("/nonexistent/key"), std::string::npos);
}

TEST(KeySources, CommandLineKeyWarnsAndBadKeyIsNeverEchoed) {
    KeySources s;
    s.keyText = "C0DE";
    KeyResult r = obtainKey(s);
    EXPECT_EQ(r.key, 0xFFFFC0DEu); // widened like any key from 8000 to FFFF
    EXPECT_NE(r.warning.find("other users"), std::string::npos);
    s.keyText = "SECRETZZ";
    r = obtainKey(s);
    EXPECT_FALSE(r.key);
    EXPECT_EQ(r.error.find("SECRETZZ"), std::string::npos);
    EXPECT_FALSE(r.error.empty());
}

TEST(KeySources, EnvironmentThenNothingWithoutATerminal) {
    KeySources s;
    s.environment = "ffff";
    EXPECT_EQ(obtainKey(s).key, 0xFFFFFFFFu);
    s.environment.reset();
    s.interactive = false;
    const KeyResult r = obtainKey(s);
    EXPECT_FALSE(r.key);
    EXPECT_NE(r.error.find("TOLVEX_KEY"), std::string::npos);
}

TEST(Kinds, NamesAndNumbersBothWays) {
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(kindName(k), kKindNames[k]);
        EXPECT_EQ(parseKind(kKindNames[k]), k);
        EXPECT_EQ(parseKind(std::to_string(k)), k);
    }
    EXPECT_EQ(parseKind("PNG"), 6);
    EXPECT_EQ(parseKind(".zip"), 15);
    EXPECT_EQ(parseKind("jpeg"), 3);
    EXPECT_EQ(parseKind("tvx"), 0);
    for (const char *bad : {"", "16", "-1", "png2", "gif", "6x", "99999999999"})
        EXPECT_FALSE(parseKind(bad)) << bad;
}

TEST(Options, EncryptWithEverything) {
    const ParseResult r =
        parseCommandLine(words({"encrypt", "a", "--disguise=png", "-c", "--force", "--output-dir",
                                "out", "--jobs", "3", "-q", "b", "--", "--odd-name"}));
    ASSERT_TRUE(r.options) << r.error;
    const Options &o = *r.options;
    EXPECT_EQ(o.command, "encrypt");
    EXPECT_EQ(o.kind, 6);
    EXPECT_TRUE(o.compress && o.force && o.quiet);
    EXPECT_EQ(o.outputDir, "out");
    EXPECT_EQ(o.jobs, 3u);
    EXPECT_EQ(o.inputs, words({"a", "b", "--odd-name"}));
}

TEST(Options, RefusesWhatDoesNotFit) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"scramble", "a"},
        {"encrypt"},
        {"decrypt", "--disguise", "png", "a"},
        {"encrypt", "--extract", "a"},
        {"decrypt", "--compress", "a"},
        {"encrypt", "--disguise", "gif", "a"},
        {"encrypt", "--disguise"},
        {"encrypt", "--output", "x", "a", "b"},
        {"encrypt", "--output", "x", "--output-dir", "d", "a"},
        {"encrypt", "--key", "1", "--key-file", "k", "a"},
        {"encrypt", "--jobs", "0", "a"},
        {"encrypt", "--jobs", "two", "a"},
        {"encrypt", "--force=yes", "a"},
        {"encrypt", "--frobnicate", "a"},
        {"info", "--key", "1", "a"},
    };
    for (const auto &args : bad) {
        const ParseResult r = parseCommandLine(args);
        EXPECT_FALSE(r.options) << testing::PrintToString(args);
        EXPECT_FALSE(r.error.empty());
    }
}

TEST(Options, EachOptionOnlyWhereItBelongs) {
    struct Case {
        std::vector<std::string> option; // with its value, when it takes one
        bool encrypt, decrypt, info;
    };
    const std::vector<Case> cases = {
        {{"-d", "png"}, true, false, false}, {{"--disguise=png"}, true, false, false},
        {{"-c"}, true, false, false},        {{"-x"}, false, true, false},
        {{"-o", "out"}, true, true, false},  {{"--output-dir", "d"}, true, true, false},
        {{"-f"}, true, true, false},         {{"--keep-damaged"}, false, true, false},
        {{"-j", "2"}, true, true, true},     {{"--archiver-wait=5"}, true, true, true},
        {{"-q"}, true, true, true},          {{"--key-file", "k"}, true, true, true},
        {{"--key", "1"}, true, true, false}, {{"--strong"}, true, false, false},
    };
    const std::string help = helpText();
    for (const Case &c : cases) {
        const std::pair<const char *, bool> commands[] = {
            {"encrypt", c.encrypt}, {"decrypt", c.decrypt}, {"info", c.info}};
        for (const auto &[command, belongs] : commands) {
            std::vector<std::string> args{command};
            args.insert(args.end(), c.option.begin(), c.option.end());
            args.push_back("a");
            const ParseResult r = parseCommandLine(args);
            EXPECT_EQ(r.options.has_value(), belongs) << testing::PrintToString(args) << r.error;
            if (!belongs) {
                EXPECT_NE(r.error.find("appl"), std::string::npos) << r.error;
            }
        }
        // Every option is in --help under the name given here.
        const std::string name = c.option[0].substr(0, c.option[0].find('='));
        EXPECT_NE(help.find(" " + name), std::string::npos) << name;
    }
}

TEST(Options, HelpListsExamplesAndExitCodes) {
    const ParseResult r = parseCommandLine(words({"--help"}));
    ASSERT_TRUE(r.options);
    EXPECT_EQ(r.options->command, "help");
    const std::string help = helpText();
    EXPECT_NE(help.find("Examples:"), std::string::npos);
    EXPECT_NE(help.find("Exit status:"), std::string::npos);
    EXPECT_NE(help.find("zip (15)"), std::string::npos);
}

// The usage text and the refusal of an unknown command are made from the command table.
TEST(Commands, UsageAndUnknownCommandComeFromTheTable) {
    EXPECT_EQ(helpText().substr(0, helpText().find("\n\n")),
              "Usage:\n"
              "  tolvex-cli encrypt [--disguise KIND] [--compress] [--strong [--kdf PRESET]]\n"
              "                     [--output BASE | --output-dir DIR] [--force] [--jobs N]\n"
              "                     [--quiet] PATH...\n"
              "  tolvex-cli decrypt [--output BASE | --output-dir DIR] [--force] [--extract]\n"
              "                     [--keep-damaged] [--jobs N] [--quiet] PATH...\n"
              "  tolvex-cli info [--key-file FILE] PATH...");
    EXPECT_EQ(parseCommandLine(words({"scramble", "a"})).error,
              "unknown command 'scramble'; the commands are encrypt, decrypt and info (try "
              "'tolvex-cli --help')");
    for (const char *typed : {"help", "--help", "-h"}) {
        const ParseResult r = parseCommandLine(words({typed, "--frobnicate"}));
        ASSERT_TRUE(r.options) << typed;
        EXPECT_EQ(r.options->command, "help");
    }
    EXPECT_EQ(parseCommandLine(words({"--version"})).options->command, "--version");
    EXPECT_EQ(parseCommandLine(words({"decrypt", "a", "-h"})).options->command, "help");
}

TEST(ExitStatus, SharedCodeOrMixed) {
    EXPECT_EQ(combinedExitCode({}), kExitOk);
    EXPECT_EQ(combinedExitCode({0, 0}), kExitOk);
    EXPECT_EQ(combinedExitCode({0, kExitWrongKey, 0, kExitWrongKey}), kExitWrongKey);
    EXPECT_EQ(combinedExitCode({kExitWrongKey, 0, kExitInputMissing}), kExitMixed);
}

TEST(Progress, BarFitsAndCounts) {
    const std::string half = renderBar(512, 1024, 1, 4, 80);
    EXPECT_NE(half.find("50%"), std::string::npos);
    EXPECT_NE(half.find("1/4 files"), std::string::npos);
    EXPECT_LE(half.size(), 80u);
    const auto hashes = std::count(half.begin(), half.end(), '#');
    const auto dashes = std::count(half.begin(), half.end(), '-');
    EXPECT_EQ(hashes, dashes);
    // More done than announced (a file that grew) stays at 100%.
    const std::string over = renderBar(3000, 1024, 1, 1, 30);
    EXPECT_NE(over.find("100%"), std::string::npos);
    EXPECT_LE(over.size(), 30u);
    EXPECT_EQ(over.find("files"), std::string::npos);
}

TEST(Progress, HumanSizes) {
    EXPECT_EQ(humanSize(0), "0 B");
    EXPECT_EQ(humanSize(1023), "1023 B");
    EXPECT_EQ(humanSize(1536), "1.5 KiB");
    EXPECT_EQ(humanSize(uint64_t(1) << 30), "1.0 GiB");
}

TEST(Paths, NamesAndStems) {
    EXPECT_EQ(baseName("a/photos/"), "photos");
    EXPECT_EQ(baseName("x.jpg"), "x.jpg");
    EXPECT_EQ(folderName("a/b/x.jpg"), "a/b");
    EXPECT_EQ(folderName("x.jpg"), ".");
    EXPECT_EQ(folderName("/x"), "/");
    EXPECT_EQ(stem("holiday.jpg"), "holiday");
    EXPECT_EQ(stem("archive.tar.gz"), "archive.tar");
    EXPECT_EQ(stem("README"), "README");
    EXPECT_EQ(stem(".profile"), ".profile");
    EXPECT_EQ(stem("dot."), "dot");
}

TEST(ArchiverCommands, AsTheWindowBuildsThem) {
    EXPECT_EQ(archiver_commands::packCommandLine("/t/x/archive.lzh", "/home/u/photos"),
              "a -d -r2 \"/t/x/archive.lzh\" \"/home/u/\" \"photos\"");
    EXPECT_EQ(archiver_commands::packCommandLine("/t/x/archive.lzh", "/home/u/photos//"),
              "a -d -r2 \"/t/x/archive.lzh\" \"/home/u/\" \"photos\"");
    EXPECT_EQ(archiver_commands::extractCommandLine("/o/s/a.lzh", "/o/x"),
              "e -d -r2 -jyo0 \"/o/s/a.lzh\" \"/o/x/\" \"*\"");
}

TEST(ArchiverCommands, DoubleQuoteGetsNoCommandLine) {
    EXPECT_FALSE(archiver_commands::packCommandLine("/t/a.lzh", "/home/u/x\" \"y"));
    EXPECT_FALSE(archiver_commands::packCommandLine("/t\"/a.lzh", "/home/u/x"));
    EXPECT_FALSE(archiver_commands::extractCommandLine("/o/a.lzh", "/o/out\"q"));
}

TEST(ArchiverClient, MissingLibraryIsReportedNotFatal) {
    TempDir dir;
    ArchiverClient client(dir.path(), 0);
    EXPECT_FALSE(client.available());
    EXPECT_NE(client.loadError().find("libunlha32.so"), std::string::npos);
    const ArchiverResult r = client.pack(dir / "a.lzh", dir.path());
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(exists(dir / "a.lzh"));
}

namespace {

std::string encodeWithEngine(const TempDir &dir, const std::string &name, int kind,
                             const Bytes &content) {
    writeFile(dir / name, content);
    tolvex::ConvertRequest r;
    const std::string source = dir / name, base = dir / ("enc" + std::to_string(kind));
    r.source = source.c_str();
    r.outputBase = base.c_str();
    r.keyCode = 0x1234;
    r.mode = TOLVEX_MODE_ENCODE;
    r.kind = kind;
    r.bufferSize = 1 << 16;
    r.templatePath = TOLVEX_TEMPLATE_FILE;
    r.fillerSeed = 7;
    EXPECT_EQ(tolvex::convert(r), TOLVEX_OK);
    return base + (kind ? "." + std::string(kKindNames[kind]) : ".tvx");
}

} // namespace

TEST(Recognise, EveryDisguiseIsRecognisedWithItsLengths) {
    TempDir dir;
    const Bytes content = randomBytes(1000, 3);
    for (int k = 0; k < 16; ++k) {
        const std::string encoded = encodeWithEngine(dir, "photo.jpeg", k, content);
        const Recognition seen = recognise(encoded, TOLVEX_TEMPLATE_FILE);
        EXPECT_TRUE(seen.error.empty());
        EXPECT_EQ(seen.kind, k);
        EXPECT_EQ(seen.payloadLength, content.size()) << k;
        EXPECT_EQ(seen.headerLength + 15 + content.size(), seen.size);
        EXPECT_EQ(seen.extension, "jpeg");
        EXPECT_EQ(seen.verdict, k ? Verdict::Encoded : Verdict::Possibly) << k;
        if (k) {
            EXPECT_EQ(seen.headerMatchesTemplate, true);
        }
    }
}

TEST(Recognise, PlainFilesAndCraftedRecordsAreNotEncoded) {
    TempDir dir;
    writeFile(dir / "text", std::string("hello world, this is plain text\n"));
    EXPECT_EQ(recognise(dir / "text", TOLVEX_TEMPLATE_FILE).verdict, Verdict::NotEncoded);
    writeFile(dir / "short", std::string("BM"));
    EXPECT_EQ(recognise(dir / "short", TOLVEX_TEMPLATE_FILE).verdict, Verdict::NotEncoded);

    // A recorded extension that would name another folder is never offered as a name.
    const std::string encoded = encodeWithEngine(dir, "a.txt", 0, randomBytes(64, 1));
    Bytes bytes = *readFile(encoded);
    bytes[4] = '/';
    writeFile(dir / "crafted.tvx", bytes);
    const Recognition seen = recognise(dir / "crafted.tvx", TOLVEX_TEMPLATE_FILE);
    EXPECT_EQ(seen.verdict, Verdict::NotEncoded);
    EXPECT_FALSE(seen.extension);

    // A genuine header of a kind, followed by something else, is told apart by the template.
    const std::string png = encodeWithEngine(dir, "b.txt", 6, randomBytes(64, 2));
    bytes = *readFile(png);
    bytes[100] ^= 0xFF;
    writeFile(dir / "other.png", bytes);
    EXPECT_EQ(recognise(dir / "other.png", TOLVEX_TEMPLATE_FILE).headerMatchesTemplate, false);
    EXPECT_EQ(recognise(dir / "other.png", TOLVEX_TEMPLATE_FILE).verdict, Verdict::Possibly);
}

TEST(Recognise, DescriptionNeverShowsTheCheckWord) {
    TempDir dir;
    const std::string encoded = encodeWithEngine(dir, "a.txt", 1, randomBytes(64, 1));
    const std::string text = describe(encoded, recognise(encoded, TOLVEX_TEMPLATE_FILE));
    EXPECT_NE(text.find("bmp (kind 1)"), std::string::npos);
    EXPECT_NE(text.find("774 bytes"), std::string::npos);
    EXPECT_NE(text.find("encoded:        yes"), std::string::npos);
    EXPECT_EQ(text.find("1234"), std::string::npos);
}

namespace {
// A finished temporary in `folder` holding `text`.
std::unique_ptr<tolvex::files::TemporaryFile> finished(int folder, const std::string &text) {
    auto file = std::make_unique<tolvex::files::TemporaryFile>(folder, ".tolvex-");
    EXPECT_TRUE(file->valid() && tolvex::files::writeAll(file->fd(), text.data(), text.size()));
    return file;
}
} // namespace

TEST(Publish, OneRuleForNamesModesAndFolders) {
    namespace files = tolvex::files;
    TempDir dir;
    const files::Fd folder = files::openFolder(dir.path());
    writeFile(dir / "final", std::string("old"));
    ::chmod((dir / "final").c_str(), 0600);
    // Without replace a taken name is kept, and nothing is left behind.
    EXPECT_EQ(files::publish(*finished(folder.get(), "new"), "final", {false, 0644}),
              files::Published::Exists);
    EXPECT_EQ(readFile(dir / "final"), Bytes({'o', 'l', 'd'}));
    EXPECT_EQ(listTree(dir.path()).size(), 1u);
    // A replacement takes its source's bits, never wider than the file it replaces.
    EXPECT_EQ(files::publish(*finished(folder.get(), "new"), "final", {true, 0644}),
              files::Published::Done);
    EXPECT_EQ(readFile(dir / "final"), Bytes({'n', 'e', 'w'}));
    struct stat st;
    ASSERT_EQ(::stat((dir / "final").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A new name: the source's read and write bits under the umask, never execute bits.
    EXPECT_EQ(files::publish(*finished(folder.get(), "x"), "fresh", {false, 0750}),
              files::Published::Done);
    ASSERT_EQ(::stat((dir / "fresh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u & ~files::processUmask());
    ::mkdir((dir / "folder").c_str(), 0755);
    EXPECT_EQ(files::publish(*finished(folder.get(), "x"), "folder", {true, 0644}),
              files::Published::IsFolder);
    EXPECT_EQ(listTree(dir.path()).size(), 3u) << "final, fresh and the folder alone";
}

TEST(Publish, TreeMovesNothingWhenOneNameExists) {
    TempDir dir;
    const tolvex::files::Fd folder = tolvex::files::openFolder(dir.path());
    const auto staged = StagingFolder::create(folder.get());
    ASSERT_TRUE(staged);
    ::mkdir((dir / "dest").c_str(), 0755);
    const tolvex::files::Fd dest = tolvex::files::openFolder(dir / "dest");
    writeFile(staged->path() + "/a", std::string("a"));
    writeFile(staged->path() + "/b", std::string("b"));
    writeFile(dir / "dest/b", std::string("old"));
    const TreeResult r = publishTree(*staged, dest.get(), false);
    EXPECT_EQ(r.outcome, Publish::Exists);
    EXPECT_EQ(r.conflict, "b");
    EXPECT_FALSE(exists(dir / "dest/a"));
    EXPECT_EQ(publishTree(*staged, dest.get(), true).outcome, Publish::Done);
    EXPECT_EQ(readFile(dir / "dest/b"), Bytes({'b'}));
    EXPECT_EQ(readFile(dir / "dest/a"), Bytes({'a'}));
}

TEST(Staging, FolderGoesAwayWithItsContent) {
    TempDir dir;
    std::string path;
    const tolvex::files::Fd folder = tolvex::files::openFolder(dir.path());
    {
        auto staging = StagingFolder::create(folder.get());
        ASSERT_TRUE(staging);
        path = staging->path();
        writeFile(path + "/partial", std::string("half"));
        EXPECT_EQ(listTree(dir.path()).size(), 2u) << "the folder and what it holds";
    }
    EXPECT_TRUE(listTree(dir.path()).empty());
    ::chmod(dir.path().c_str(), 0555);
    if (::geteuid() != 0) {
        EXPECT_FALSE(StagingFolder::create(folder.get()));
    }
    ::chmod(dir.path().c_str(), 0777);
}

namespace {
// Runs of white space as one space: the same words, however a page wraps them.
std::string words(const std::string &text) {
    std::string out;
    for (const char c : text) {
        const bool blank = c == ' ' || c == '\n' || c == '\t';
        if (!blank)
            out += c;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    return out;
}
} // namespace

// One passphrase rule, stated word for word wherever a user or another program reads it.
TEST(PassphraseRule, HelpManualReadmeAndFormatPageStateItAlike) {
    const std::string rule = words(kPassphraseRule);
    ASSERT_FALSE(rule.empty());
    EXPECT_NE(words(helpText()).find(rule), std::string::npos);
    for (const char *page :
         {"/README.md", "/packaging/man/tolvex-cli.1", "/docs/strong-format.md"}) {
        const auto text = readFile(std::string(TOLVEX_SOURCE_DIR) + page);
        ASSERT_TRUE(text) << page;
        EXPECT_NE(words(std::string(text->begin(), text->end())).find(rule), std::string::npos)
            << page << " does not state the passphrase rule as --help does";
    }
}

TEST(PassphraseRule, EverySourceGivesTheSameBytes) {
    const auto fromFile = [](const std::string &content) {
        std::string error;
        const auto line = keyFileLine(content, "the file", error);
        return line ? passphraseFromText(*line, "in the file") : PassphraseResult{{}, error};
    };
    const PassphraseResult a = fromFile("  blue harbour 7\r\n");
    const PassphraseResult b = passphraseFromText("blue harbour 7", "in TOLVEX_PASSPHRASE");
    const PassphraseResult c = passphraseFromText("\vblue harbour 7 \f", "typed");
    ASSERT_TRUE(a.passphrase && b.passphrase && c.passphrase);
    EXPECT_EQ(a.passphrase->view(), "blue harbour 7");
    EXPECT_TRUE(*a.passphrase == *b.passphrase && *b.passphrase == *c.passphrase);
    // Other white space is part of the passphrase.
    EXPECT_EQ(passphraseFromText("\xC2\xA0x", "typed").passphrase->view(), "\xC2\xA0x");
    EXPECT_FALSE(passphraseFromText(" \t ", "typed").passphrase);
    EXPECT_TRUE(passphraseFromText(std::string(kMaxPassphrase, 'p'), "typed").passphrase);
    EXPECT_FALSE(passphraseFromText(std::string(kMaxPassphrase + 1, 'p'), "typed").passphrase);
}

TEST(PassphraseRule, AKeyFileServesOneKindOfAMixedRun) {
    EXPECT_TRUE(keyFileUse(true, false, true, true, false).servesStrong) << "only strong files";
    const KeyFileUse neither = keyFileUse(true, true, true, false, false);
    EXPECT_FALSE(neither.error.empty());
    const KeyFileUse classic = keyFileUse(true, true, true, true, false);
    EXPECT_TRUE(classic.servesClassic && !classic.servesStrong);
    const KeyFileUse strong = keyFileUse(true, true, true, false, true);
    EXPECT_TRUE(strong.servesStrong && !strong.servesClassic);
    EXPECT_FALSE(keyFileUse(true, true, true, true, true).error.empty())
        << "it would serve nothing";
    EXPECT_FALSE(keyFileUse(false, true, true, false, false).note.empty());
}

// Key material never lands in a core file: strong work turns dumps off for the process, and a
// secret's bytes are gone once its last holder lets go.
TEST(KeyMaterial, CoreDumpsOffAndSecretsShared) {
    const pid_t child = ::fork();
    if (child == 0) {
        strong::protectKeyMaterial();
        ::_exit(::prctl(PR_GET_DUMPABLE) == 0 ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    auto secret = Secret::from("a passphrase");
    ASSERT_TRUE(secret);
    const Secret copy = *secret;
    EXPECT_EQ(copy.data(), secret->data()) << "copies share the one locked buffer";
    EXPECT_EQ(copy.view(), "a passphrase");
    std::string plain = "typed text";
    wipe(plain);
    EXPECT_TRUE(plain.empty());
}
