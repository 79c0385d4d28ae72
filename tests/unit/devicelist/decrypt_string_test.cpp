#include <gtest/gtest.h>

#include "devicelist/sync.h"
#include "support/fake_system.h"

namespace quillet {
namespace {

using testing::FakeRun;

struct DecodeCase {
    const char* what;
    std::string input;
    std::string decoded;
};

TEST(DecryptString, TurnsCodesIntoCharactersWithoutALogLine) {
    const DecodeCase cases[] = {
        {"one code", "89", "Y"},
        {"two codes", "49H50", "12"},
        {"spaces around the digits", " 49 H  50 ", "12"},
        {"leading zeros", "007H065", std::string("\x07") + "A"},
        {"highest code", "255", "\xFF"},
        {"code 0 is a zero character", "0", std::string(1, '\0')},
        {"zero inside", "65H0H66", std::string("A") + '\0' + "B"},
        {"time of day", "48H57H58H48H48", "09:00"},
        {"empty input", "", ""},
    };
    for (const auto& c : cases) {
        FakeRun f;
        EXPECT_EQ(PriSubDecryptString(f.ctx, c.input), c.decoded) << c.what;
        EXPECT_FALSE(f.exists("ApplicationLog\\MNStatusLog.txt")) << c.what;
    }
}

struct FailureCase {
    const char* what;
    std::string input;
    int number;
};

TEST(DecryptString, AnyBadPieceFailsTheWholeDecodingWithItsLine) {
    const FailureCase cases[] = {
        {"trailing H", "49H", 13},
        {"leading H", "H49", 13},
        {"double H", "49HH50", 13},
        {"lone H", "H", 13},
        {"lower-case h is no separator", "49h50", 13},
        {"letter inside a code", "4x9", 13},
        {"spaces only", "  ", 13},
        {"tab is not a space", "\t49", 13},
        {"sign", "-1", 13},
        {"plus sign", "+65", 13},
        {"fraction", "65.0", 13},
        {"code past the code page", "256", 5},
        {"good codes then a bad one", "65H66H999", 5},
        {"very long number", "65H123456789012345678901234567890", 5},
    };
    for (const auto& c : cases) {
        FakeRun f;
        EXPECT_EQ(PriSubDecryptString(f.ctx, c.input), "") << c.what;
        const std::string description =
            c.number == 13 ? "Type mismatch" : "Invalid procedure call or argument";
        EXPECT_EQ(f.logMessages(),
                  std::vector<std::string>{"ERR : Error while decrypting string. Error No. : " +
                                           std::to_string(c.number) + ", Error Description : " +
                                           description + ", Source = PriSubDecryptString()"})
            << c.what;
    }
}

}  // namespace
}  // namespace quillet
