// The console converter run as a program: messages, output names, exit
// codes, the failure reason on standard error and the progress line on a
// terminal.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>

#include "test_support.h"
#include "vek/vek_failures.h"

using namespace testsupport;

namespace {

const std::string BIN = VEK_BIN_DIR;

// The converter under test: by default the one built beside these tests.
// The Windows build runs these same tests against its vekconv.exe under
// wine: VEK_CONVERTER names the program, VEK_CONVERTER_RUNNER the command
// that runs it, VEK_CONVERTER_LIBRARY the codec library's file name beside
// it, and VEK_NOT_A_CODEC a library that loads but has no VEK_Constructor.
std::string setting(const char *name, const std::string &otherwise) {
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : otherwise;
}
const std::string PROGRAM = setting("VEK_CONVERTER", BIN + "/vekconv");
const std::string RUNNER = setting("VEK_CONVERTER_RUNNER", "");
const std::string LIBRARY = setting("VEK_CONVERTER_LIBRARY", "libvek.so");
const std::string NOT_A_CODEC = setting("VEK_NOT_A_CODEC", BIN + "/libveknotacodec.so");
// The name the converter gives itself in its usage text.
const std::string PROGRAM_NAME = PROGRAM.substr(PROGRAM.find_last_of('/') + 1);
const std::string BANNER = "VEK picture compressor - console converter\n\n";
const std::string VERSION = "Loading... 'VEK.DLL' version 0.01\n";

std::string usage(const std::string &name) {
    return name + " <de> <input.bmp> [output.vek]\n\n"
                  "command:    <d> decode to Windows Bitmap.    <e> encode to VE-Picture.\n\n"
                  "ex:\n    " + name + " e bitmap.bmp compress.vek\n    " + name +
           " d compress.vek bitmap.bmp\n\n"
           "\t(*) VEK compression technology is based on the ORLO archiver.\n";
}

// A Windows converter (vekconv.exe), run under wine.
bool isWindowsProgram(const std::string &program) {
    return program.size() > 4 && program.compare(program.size() - 4, 4, ".exe") == 0;
}

RunResult vekconv(const std::string &args, const std::string &program = PROGRAM) {
    RunResult r = runCapturingErrors((RUNNER.empty() ? "" : RUNNER + " ") + quote(program) + " " + args);
    // A Windows program ends its lines with \r\n (text mode output): the
    // same messages.
    if (isWindowsProgram(program)) {
        for (std::string *text : {&r.output, &r.errors}) {
            std::string::size_type at;
            while ((at = text->find("\r\n")) != std::string::npos) text->erase(at, 1);
        }
    }
    return r;
}

// The line standard error gets for a failed conversion.
std::string reasonLine(int code) {
    return std::string("vekconv: ") + vekFailureText(code) + "\n";
}

// Terminal output of a program under wine's console: its control sequences
// (ESC [ parameters letter) taken out, but for the cursor steps forward
// (ESC [ n C) that it draws spaces with, and the console's line ends
// ("\r\r\n" for the program's "\r\n") made "\r\n" again.
std::string withoutConsoleControls(const std::string &text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            const size_t parameters = i + 2;
            for (i = parameters; i < text.size() && !std::isalpha(static_cast<unsigned char>(text[i]));) ++i;
            if (i < text.size() && text[i] == 'C') {
                const std::string count = text.substr(parameters, i - parameters);
                plain.append(count.empty() ? 1 : std::strtoul(count.c_str(), nullptr, 10), ' ');
            }
            continue;
        }
        plain += text[i];
    }
    std::string::size_type at;
    while ((at = plain.find("\r\r\n")) != std::string::npos) plain.erase(at, 1);
    return plain;
}

Bytes samplePicture() {
    return makeBmp(20, 10, 24, Bytes(), smoothPixels(20, 10, 24, 1));
}

// A copy of the converter in a folder of its own, with `library` (or
// nothing) beside it under the codec library's name.
std::string lonelyConverter(const TempDir &dir, const std::string &library) {
    const std::string bin = dir.file("bin");
    run("mkdir -p " + quote(bin) + " && cp " + quote(PROGRAM) + " " + quote(bin));
    if (!library.empty()) run("cp " + quote(library) + " " + quote(bin + "/" + LIBRARY));
    return bin + "/" + PROGRAM_NAME;
}

} // namespace

TEST(Converter, TooFewArgumentsPrintUsage) {
    RunResult r = vekconv("");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output, BANNER + usage(PROGRAM_NAME));
    r = vekconv("e");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output, BANNER + usage(PROGRAM_NAME));
    // Also without the library.
    TempDir dir;
    r = vekconv("d", lonelyConverter(dir, ""));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output, BANNER + usage(PROGRAM_NAME));
}

TEST(Converter, LibraryProblemsAreReported) {
    TempDir dir;
    RunResult r = vekconv("e a.bmp", lonelyConverter(dir, ""));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, BANNER + "File not found - VEK.DLL\n");

    // A library that loads but lacks the constructor.
    TempDir other;
    r = vekconv("e a.bmp", lonelyConverter(other, NOT_A_CODEC));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, BANNER + "GetProc error!\n");
}

TEST(Converter, UnknownCommandConvertsNothing) {
    TempDir dir;
    writeFile(dir.file("a.bmp"), samplePicture());
    RunResult r = vekconv("x " + quote(dir.file("a.bmp")));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output, BANNER + VERSION);
    EXPECT_FALSE(fileExists(dir.file("a.vek")));
}

TEST(Converter, EncodesAndDecodesWithDerivedNames) {
    TempDir dir;
    const Bytes picture = samplePicture();
    writeFile(dir.file("photo.old.bmp"), picture);
    RunResult r = vekconv("encode " + quote(dir.file("photo.old.bmp")));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, BANNER + VERSION + "compressing to VEK\n");
    EXPECT_EQ(r.errors, "") << "no progress when standard error is not a terminal";
    ASSERT_TRUE(fileExists(dir.file("photo.old.vek")));

    run("mv " + quote(dir.file("photo.old.vek")) + " " + quote(dir.file("archive")));
    r = vekconv("D " + quote(dir.file("archive")));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, BANNER + VERSION + "decompressing to BMP\n");
    const Bytes back = readFile(dir.file("archive.bmp"));
    ASSERT_GE(back.size(), picture.size());
    EXPECT_EQ(Bytes(back.begin() + 54, back.begin() + static_cast<long>(picture.size())),
              Bytes(picture.begin() + 54, picture.end()));

    r = vekconv("E " + quote(dir.file("photo.old.bmp")) + " " + quote(dir.file("b.dat")));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(fileExists(dir.file("b.dat")));
}

TEST(Converter, FailedConversionsSayFaildAndExitOne) {
    TempDir dir;
    RunResult r = vekconv("e " + quote(dir.file("missing.bmp")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, BANNER + VERSION + "compressing to VEK\nfaild...\n");
    EXPECT_EQ(r.errors, reasonLine(VEK_FAILURE_OPEN_INPUT));
    EXPECT_FALSE(fileExists(dir.file("missing.vek")));

    // A damaged .vek file: the converter survives, reports and leaves no
    // half-written picture.
    writeFile(dir.file("a.bmp"), samplePicture());
    ASSERT_EQ(vekconv("e " + quote(dir.file("a.bmp"))).exitCode, 0);
    Bytes vek = readFile(dir.file("a.vek"));
    vek.resize(vek.size() - 20);
    writeFile(dir.file("cut.vek"), vek);
    r = vekconv("d " + quote(dir.file("cut.vek")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, BANNER + VERSION + "decompressing to BMP\nfaild...\n");
    EXPECT_EQ(r.errors, reasonLine(VEK_FAILURE_DAMAGED_VEK));
    EXPECT_FALSE(fileExists(dir.file("cut.bmp")));

    // Converting a file onto itself would destroy it: refused, input intact.
    const Bytes before = readFile(dir.file("a.bmp"));
    r = vekconv("e " + quote(dir.file("a.bmp")) + " " + quote(dir.file("a.bmp")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, BANNER + VERSION + "compressing to VEK\nfaild...\n");
    EXPECT_EQ(r.errors, reasonLine(VEK_FAILURE_SAME_FILE));
    EXPECT_EQ(readFile(dir.file("a.bmp")), before);
}

// Under a pseudo-terminal (script(1)) an encode shows one line on standard
// error, rewritten in place and ending on 100 %; a refused picture shows no
// progress, only its reason. The Windows converter runs under wine, whose
// console draws its screen on the terminal with control sequences and may
// skip states it had no time to draw: there the progress line and its last
// state are checked.
TEST(Converter, EncodeProgressOnATerminal) {
    if (run("command -v script").exitCode != 0) GTEST_SKIP() << "no script(1) to make a terminal";
    const bool windowsConsole = isWindowsProgram(PROGRAM);
    TempDir dir;
    // Rows of flat colour: runs all through the picture, so the codec posts
    // percentages on the way.
    Bytes pixels = smoothPixels(400, 300, 24, 4);
    for (size_t i = 0; i < pixels.size(); i += 1500)
        for (size_t k = 0; k < 60 && i + k < pixels.size(); ++k) pixels[i + k] = 0x44;
    writeFile(dir.file("p.bmp"), makeBmp(400, 300, 24, Bytes(), pixels));
    auto onTerminal = [&](const std::string &args) {
        RunResult r = run("script -qec " + quote((RUNNER.empty() ? "" : RUNNER + " ") + quote(PROGRAM) + " " + args) +
                          " /dev/null");
        if (windowsConsole) r.output = withoutConsoleControls(r.output);
        return r;
    };

    RunResult r = onTerminal("e " + quote(dir.file("p.bmp")));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(fileExists(dir.file("p.vek")));
    const std::string start = "compressing to VEK\r\n";
    const size_t begin = r.output.find(start);
    ASSERT_NE(begin, std::string::npos) << r.output;
    const std::string line = r.output.substr(begin + start.size());
    if (windowsConsole) {
        EXPECT_EQ(line.find("progress:"), 0u) << line;
        EXPECT_NE(line.find("\rprogress: 100 %\r"), std::string::npos) << line;
    } else {
        const std::string end = "\rprogress: 100 %\r\n";
        ASSERT_GE(line.size(), end.size()) << line;
        EXPECT_EQ(line.substr(line.size() - end.size()), end) << "ends on 100 %, then a new line";
        // Each step rewrites the one line: "\rprogress: NNN %", rising.
        int previous = -1, steps = 0;
        for (size_t at = line.find("\rprogress: "); at != std::string::npos; at = line.find("\rprogress: ", at + 1)) {
            const int percent = std::stoi(line.substr(at + 11, 3));
            EXPECT_GT(percent, previous);
            previous = percent;
            ++steps;
        }
        EXPECT_GE(steps, 3) << line;
        EXPECT_EQ(line.find('\n'), line.size() - 1) << "a single line";
    }

    Bytes compressed = readFile(dir.file("p.bmp"));
    compressed[30] = 1;  // run-length coded
    writeFile(dir.file("rle.bmp"), compressed);
    r = onTerminal("e " + quote(dir.file("rle.bmp")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output.find("progress"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("faild..."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("vekconv: compressed BMP pictures are not supported"), std::string::npos) << r.output;
}

TEST(Converter, OutputNamesLongerThan259CharactersAreRefused) {
    TempDir dir;
    writeFile(dir.file("a.bmp"), samplePicture());
    const std::string longName = dir.path() + "/" + std::string(259 - dir.path().size() - 1 + 1, 'n');
    ASSERT_EQ(longName.size(), 260u);
    RunResult r = vekconv("e " + quote(dir.file("a.bmp")) + " " + quote(longName));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("output name too long"), std::string::npos);
    EXPECT_EQ(r.output.find("compressing"), std::string::npos);

    // A derived name that grows past the limit: 256 characters + ".vek".
    const std::string stem = dir.path() + "/" + std::string(256 - dir.path().size() - 1, 's');
    ASSERT_EQ(stem.size(), 256u);
    r = vekconv("e " + quote(stem));
    EXPECT_EQ(r.exitCode, 2);
    // Exactly 259 characters are fine (the folder exists, the file does not).
    const std::string fits = dir.path() + "/" + std::string(259 - dir.path().size() - 1, 'f');
    r = vekconv("e " + quote(dir.file("a.bmp")) + " " + quote(fits));
    EXPECT_EQ(r.exitCode, 0);
}
