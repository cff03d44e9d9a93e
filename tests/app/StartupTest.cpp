// Start-up before any window: one instance only, and the driver file brought
// up to date from image ranges of the running program's own file.
#include "Startup.h"
#include "TestMachine.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#define rmdir _rmdir
#else
#include <sys/stat.h>
#include <unistd.h>

#include "system/SystemState.h"
#endif

namespace {

std::string HostPath(std::string path)
{
#ifndef _WIN32
    for (char& c : path)
        if (c == '\\')
            c = '/';
#endif
    return path;
}

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (FILE* file = fopen(HostPath(path).c_str(), "rb")) {
        uint8_t chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + got);
        fclose(file);
    }
    return bytes;
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = fopen(HostPath(path).c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

uint16_t ChecksumOf(const std::vector<uint8_t>& bytes)
{
    WordChecksum sum;
    sum.Add(bytes.data(), bytes.size());
    return sum.Value();
}

TEST(WordChecksumTest, PairsAreBigEndianWordsAndAnOddByteIsHigh)
{
    const uint8_t abc[] = {0x61, 0x62, 0x63};
    WordChecksum whole;
    whole.Add(abc, 3);
    EXPECT_EQ(whole.Value(), 0x0262);

    WordChecksum pieces;
    pieces.Add(abc, 1);
    pieces.Add(abc + 1, 2);
    EXPECT_EQ(pieces.Value(), 0x0262) << "a word may span two pieces";

    const uint8_t pairs[] = {0x12, 0x34, 0x12, 0x30, 0xFF, 0x00};
    WordChecksum cancelling;
    cancelling.Add(pairs, sizeof pairs);
    EXPECT_EQ(cancelling.Value(), 0xFF04);
    EXPECT_EQ(WordChecksum().Value(), 0);
}

TEST(DriverFilePathTest, HasExactlyOneBackslashBeforeDrivers)
{
    EXPECT_EQ(DriverFilePathIn("C:\\WINNT\\system32"), "C:\\WINNT\\system32\\Drivers\\ZrVtrlFlt.sys");
    EXPECT_EQ(DriverFilePathIn("C:\\WINNT\\system32\\"), "C:\\WINNT\\system32\\Drivers\\ZrVtrlFlt.sys");
    EXPECT_EQ(DriverFilePathIn("C:\\"), "C:\\Drivers\\ZrVtrlFlt.sys");
}

TEST(SingleInstanceTest, ASecondInstanceIsRefusedUntilTheFirstEnds)
{
    [[maybe_unused]] TestMachine machine;
    HANDLE first = CreateSingleInstanceMutex();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CreateSingleInstanceMutex(), nullptr);
    HANDLE mutex = nullptr;
    EXPECT_FALSE(PrepareStartup(DriverImages{}, &mutex));
    EXPECT_EQ(mutex, nullptr);
    ASSERT_TRUE(CloseHandle(first));
    HANDLE again = CreateSingleInstanceMutex();
    EXPECT_NE(again, nullptr);
    CloseHandle(again);
}

// Two images cut from the test program's own file, as the build appends
// them to the application's: A somewhere inside, B from A's end, followed by
// bytes that stand for the program's signature.
class DriverFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char module[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
        ASSERT_GT(length, 0u);
        program_ = ReadAll(std::string(module, length));
        ASSERT_GT(program_.size(), 8192u);
        imageA_.assign(program_.begin() + 1000, program_.begin() + 4001);
        imageB_.assign(program_.begin() + 4001, program_.end() - 100);
        images_.a = DriverImage{1000, 3001, ChecksumOf(imageA_)};
        images_.b = DriverImage{4001, static_cast<uint32_t>(imageB_.size()), ChecksumOf(imageB_)};
        imageWow64_.assign(program_.begin() + 100, program_.begin() + 900);
        images_.wow64 = DriverImage{100, 800, ChecksumOf(imageWow64_)};
        ASSERT_NE(images_.a.checksum, images_.b.checksum) << "the test needs images that differ";
        path_ = DriverFilePath();
        ASSERT_FALSE(path_.empty());
        remove(HostPath(path_).c_str());
    }
    void TearDown() override { remove(HostPath(path_).c_str()); }

    TestMachine machine_;
    std::vector<uint8_t> program_;
    std::vector<uint8_t> imageA_;
    std::vector<uint8_t> imageB_;
    std::vector<uint8_t> imageWow64_;
    DriverImages images_{};
    std::string path_;
};

TEST_F(DriverFileTest, AMissingDriverFileIsWrittenFromTheImageForThisSystem)
{
    EXPECT_EQ(&ChooseDriverImage(images_), &images_.b);
    ASSERT_TRUE(UpdateDriverFile(images_));
    EXPECT_EQ(ReadAll(path_), imageB_) << "image B without the signature after it";
    uint16_t checksum = 0;
    ASSERT_TRUE(ComputeFileChecksum(path_.c_str(), &checksum));
    EXPECT_EQ(checksum, images_.b.checksum);
}

TEST_F(DriverFileTest, AFileWithTheExpectedChecksumIsNotTouched)
{
    // Two bytes whose one word is the checksum: not the image, yet it matches.
    std::vector<uint8_t> matching = {static_cast<uint8_t>(images_.b.checksum >> 8),
                                     static_cast<uint8_t>(images_.b.checksum & 0xFF)};
    WriteAll(path_, matching);
    EXPECT_TRUE(UpdateDriverFile(images_));
    EXPECT_EQ(ReadAll(path_), matching);
}

TEST_F(DriverFileTest, TheOtherSystemsImageIsReplaced)
{
    WriteAll(path_, imageA_);
    ASSERT_TRUE(UpdateDriverFile(images_));
    EXPECT_EQ(ReadAll(path_), imageB_);
}

TEST_F(DriverFileTest, ExtractCopiesUpToTheLengthOrTheEndOfTheFile)
{
    ASSERT_TRUE(ExtractDriverImage(1000, 3001));
    EXPECT_EQ(ReadAll(path_), imageA_);
    uint32_t beyondEnd = static_cast<uint32_t>(program_.size()) - 10;
    ASSERT_TRUE(ExtractDriverImage(beyondEnd, 1000));
    EXPECT_EQ(ReadAll(path_), std::vector<uint8_t>(program_.end() - 10, program_.end()));
    ASSERT_TRUE(ExtractDriverImage(static_cast<uint32_t>(program_.size()) + 5, DRIVER_IMAGE_TO_END));
    EXPECT_TRUE(ReadAll(path_).empty());
}

TEST_F(DriverFileTest, ADriverFileThatCannotBeWrittenEndsTheUpdate)
{
    // A folder where the file should be: it can be neither read nor written.
#ifdef _WIN32
    ASSERT_EQ(_mkdir(path_.c_str()), 0);
#else
    ASSERT_EQ(mkdir(HostPath(path_).c_str(), 0755), 0);
#endif
    EXPECT_FALSE(ExtractDriverImage(images_.b.offset, DRIVER_IMAGE_TO_END));
    EXPECT_FALSE(UpdateDriverFile(images_)) << "returns instead of rewriting forever";
    HANDLE mutex = nullptr;
    EXPECT_TRUE(PrepareStartup(images_, &mutex)) << "start-up goes on without a current driver file";
    CloseHandle(mutex);
    rmdir(HostPath(path_).c_str());
}

// A 32-bit program on 64-bit Windows, as kernel32 would answer it.
struct Wow64System {
    static BOOL redirectionCanBeTurnedOff;
    static int turnedOff;
    static int restored;
    static BOOL WINAPI IsWow64Process(HANDLE, PBOOL wow64)
    {
        *wow64 = TRUE;
        return TRUE;
    }
    static BOOL WINAPI Disable(PVOID* state)
    {
        *state = &turnedOff;
        turnedOff += redirectionCanBeTurnedOff ? 1 : 0;
        return redirectionCanBeTurnedOff;
    }
    static BOOL WINAPI Revert(PVOID state)
    {
        restored += state == &turnedOff ? 1 : 0;
        return TRUE;
    }
};
BOOL Wow64System::redirectionCanBeTurnedOff = TRUE;
int Wow64System::turnedOff = 0;
int Wow64System::restored = 0;

TEST_F(DriverFileTest, UnderWow64The64BitImageReplacesThe32BitOneWithRedirectionOffMeanwhile)
{
    Wow64System::redirectionCanBeTurnedOff = TRUE;
    Wow64System::turnedOff = Wow64System::restored = 0;
    const Wow64Calls calls = {Wow64System::IsWow64Process, Wow64System::Disable, Wow64System::Revert};
    WriteAll(path_, imageB_);
    EXPECT_EQ(BringDriverFileUpToDate(images_, calls), DriverFileProblem::None);
    EXPECT_EQ(ReadAll(path_), imageWow64_);
    EXPECT_EQ(Wow64System::turnedOff, 1);
    EXPECT_EQ(Wow64System::restored, 1) << "redirection is on again once the file is written";
    EXPECT_EQ(BringDriverFileUpToDate(images_, Wow64Calls{}), DriverFileProblem::None);
    EXPECT_EQ(ReadAll(path_), imageB_) << "without WOW64 the 32-bit image is the one";
}

TEST_F(DriverFileTest, UnderWow64WithoutRedirectionControlNothingIsWritten)
{
    Wow64System::redirectionCanBeTurnedOff = FALSE;
    Wow64System::turnedOff = Wow64System::restored = 0;
    WriteAll(path_, imageB_);
    for (const Wow64Calls& calls : {Wow64Calls{Wow64System::IsWow64Process, Wow64System::Disable, Wow64System::Revert},
                                    Wow64Calls{Wow64System::IsWow64Process, nullptr, nullptr}}) {
        EXPECT_EQ(BringDriverFileUpToDate(images_, calls), DriverFileProblem::RedirectionStuck);
        EXPECT_EQ(ReadAll(path_), imageB_) << "the redirected folder is not the system's";
    }
    EXPECT_EQ(Wow64System::restored, 0);
    EXPECT_FALSE(DriverFileProblemLine(DriverFileProblem::RedirectionStuck).empty());
}

#ifndef _WIN32
TEST_F(DriverFileTest, WindowsNT4GetsImageA)
{
    machine_.system().info.SetVersion(sim::kWindowsNT4);
    EXPECT_TRUE(IsWindowsNT4());
    WriteAll(path_, imageB_);
    ASSERT_TRUE(UpdateDriverFile(images_));
    EXPECT_EQ(ReadAll(path_), imageA_);

    machine_.system().info.SetVersion(sim::kWindows2000);
    EXPECT_FALSE(IsWindowsNT4());
    ASSERT_TRUE(UpdateDriverFile(images_));
    EXPECT_EQ(ReadAll(path_), imageB_);
}
#endif

}  // namespace
