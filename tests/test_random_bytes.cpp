// Random bytes through the pairs that must give back what they were given or
// at least never fail: the archiver command line, the quoted-field records
// and set.ini. The generator is seeded, so a failure repeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "archive/command_line.h"
#include "engine/text_process.h"
#include "settings/ini_rw.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class Bytes {
public:
    explicit Bytes(unsigned seed) : random_(seed) {}
    // Up to `longest` bytes, each from `lowest` to 255.
    std::string Text(size_t longest, int lowest = 1) {
        std::string s(std::uniform_int_distribution<size_t>(0, longest)(random_), '\0');
        std::uniform_int_distribution<int> byte(lowest, 255);
        for (char& c : s) c = static_cast<char>(byte(random_));
        return s;
    }
    // Like Text, but drawn mostly from a few bytes that mean something to
    // the code under test, so that they meet each other often.
    std::string Tricky(size_t longest, std::string_view alphabet) {
        std::string s = Text(longest);
        std::uniform_int_distribution<size_t> pick(0, alphabet.size() * 2);
        for (char& c : s)
            if (const size_t k = pick(random_); k < alphabet.size()) c = alphabet[k];
        return s;
    }
    // Valid UTF-8 of up to `longest` characters, some of them from
    // `alphabet`, without line ends.
    std::string Utf8(size_t longest, std::string_view alphabet) {
        std::string s;
        for (size_t i = Below(longest + 1); i > 0; --i) {
            uint32_t c;
            switch (Below(4)) {
                case 0: c = static_cast<unsigned char>(alphabet[Below(alphabet.size())]); break;
                case 1: c = 0x20 + static_cast<uint32_t>(Below(0x5f)); break;
                case 2: c = 0x80 + static_cast<uint32_t>(Below(0xD800 - 0x80)); break;
                default: c = 0x10000 + static_cast<uint32_t>(Below(0x100000)); break;
            }
            if (c < 0x80) {
                s += static_cast<char>(c);
            } else if (c < 0x800) {
                s += static_cast<char>(0xC0 | (c >> 6));
                s += static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                s += static_cast<char>(0xE0 | (c >> 12));
                s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                s += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                s += static_cast<char>(0xF0 | (c >> 18));
                s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                s += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return s;
    }
    size_t Below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }

private:
    std::mt19937 random_;
};

}  // namespace

TEST(RandomBytes, CommandLineGivesBackEveryNameAndPassword) {
    Bytes bytes(1);
    for (int round = 0; round < 2000; ++round) {
        const std::string password = bytes.Tricky(12, " \t\"\\-");
        std::vector<std::string> names;
        for (size_t i = bytes.Below(6); i > 0; --i) names.push_back(bytes.Tricky(16, " \t\"\\@-*\n"));
        std::string line = "a -t7z -p" + PasswordToken(password) + " -r \"" + EscapeQuoted("/o/a.7z") + "\" ";
        for (const auto& n : names) line += "\"" + EscapeQuoted(n) + "\" ";
        const auto tokens = SplitCommandLine(line);
        ASSERT_EQ(tokens.size(), 5 + names.size()) << round;
        EXPECT_EQ(tokens[2], "-p" + password) << round;
        for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(tokens[5 + i], names[i]) << round;
    }
    // Whatever the line, splitting ends and never invents bytes.
    for (int round = 0; round < 2000; ++round) {
        const std::string line = bytes.Tricky(40, " \t\"\\");
        size_t kept = 0;
        for (const auto& t : SplitCommandLine(line)) kept += t.size();
        EXPECT_LE(kept, line.size());
    }
}

TEST(RandomBytes, FieldsAreAlwaysPartsOfTheirLine) {
    Bytes bytes(2);
    for (int round = 0; round < 3000; ++round) {
        // Random bytes include cut and invalid UTF-8 characters.
        const std::string line = bytes.Tricky(40, "\",\x81\x5c\xe3");
        const std::string separator = bytes.Below(3) == 0 ? bytes.Tricky(2, "\",") : "\",";
        for (int n = -1; n <= 6; ++n) {
            const std::string field = GetField(n, line, separator);
            EXPECT_NE(line.find(field), std::string::npos) << round << " field " << n;
        }
        const std::string plain = ReplaceAll(line, "\"", "");
        EXPECT_EQ(plain.find('"'), std::string::npos);
        EXPECT_EQ(ReplaceAll(line, "\"", "\""), line);
    }
}

// Whatever a set.ini in UTF-8 held, saving the settings keeps every line
// that is not one of its own keys byte for byte, and reading gives back what
// was saved. (A file in code page 932 is converted to UTF-8 as a whole.)
TEST(RandomBytes, SettingsFileKeepsForeignLinesAndRoundTrips) {
    Bytes bytes(3);
    TempDir dir;
    const std::string path = dir.folder() + "set.ini";
    for (int round = 0; round < 300; ++round) {
        std::string junk;
        for (size_t i = bytes.Below(8); i > 0; --i) junk += bytes.Utf8(20, "[]=; \t") + "\r\n";
        // A section of someone else's after it.
        const std::string other = "[other]\r\nkey=" + bytes.Utf8(10, "=[]; ") + "\r\n";
        WriteFile(path, junk + other);

        TSetData saved;
        saved.PosX = static_cast<int32_t>(bytes.Below(4000)) - 2000;
        saved.Mode = static_cast<int32_t>(bytes.Below(13));
        saved.SelectFileName = "f" + bytes.Utf8(8, "= ;[") + "x";
        saved.ActMode1 = static_cast<uint8_t>(bytes.Below(2));
        ASSERT_NO_THROW(SaveSettings(path, saved)) << round;
        TSetData loaded;
        LoadSettings(path, loaded);
        EXPECT_EQ(loaded.PosX, saved.PosX) << round;
        EXPECT_EQ(loaded.Mode, saved.Mode) << round;
        EXPECT_EQ(loaded.SelectFileName, saved.SelectFileName) << round;
        EXPECT_EQ(loaded.ActMode1, saved.ActMode1) << round;
        EXPECT_NE(ReadFile(path).find(junk + other), std::string::npos) << round;
    }
}
