// The built Vantrel.exe carries the driver images where the generated
// constants say: A at its offset, B right after it, in the 32-bit program the
// 64-bit image B after that, and then only the program's signature; each a
// native-subsystem PE image of its machine with the expected word checksum
// and the bytes of the driver the build made.
#include "DriverImages.h"
#include "FileBytes.h"
#include "VantrelProcess.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

uint16_t ChecksumOf(const Bytes& bytes)
{
    WordChecksum sum;
    sum.Add(bytes.data(), bytes.size());
    return sum.Value();
}

template <typename T>
bool ReadAt(const Bytes& image, size_t offset, T* value)
{
    if (offset > image.size() || image.size() - offset < sizeof(T))
        return false;
    memcpy(value, image.data() + offset, sizeof(T));
    return true;
}

// The headers of a PE image that the checks need; machine 0 when it is no
// PE image. The optional header's subsystem lies at the same place in PE32
// and PE32+; the data directories follow the fields that grew to 64 bits.
struct PeHeaders {
    WORD machine = 0;
    WORD subsystem = 0;
    IMAGE_DATA_DIRECTORY certificates = {};
};

PeHeaders ReadPeHeaders(const Bytes& image)
{
    PeHeaders headers;
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS32 nt32;
    IMAGE_NT_HEADERS64 nt64;
    if (!ReadAt(image, 0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0)
        return headers;
    size_t at = static_cast<size_t>(dos.e_lfanew);
    if (ReadAt(image, at, &nt32) && nt32.Signature == IMAGE_NT_SIGNATURE &&
        nt32.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        headers = {nt32.FileHeader.Machine, nt32.OptionalHeader.Subsystem,
                   nt32.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]};
    } else if (ReadAt(image, at, &nt64) && nt64.Signature == IMAGE_NT_SIGNATURE &&
               nt64.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        headers = {nt64.FileHeader.Machine, nt64.OptionalHeader.Subsystem,
                   nt64.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]};
    }
    return headers;
}

#ifdef _WIN64
constexpr WORD kBuildMachine = IMAGE_FILE_MACHINE_AMD64;
#else
constexpr WORD kBuildMachine = IMAGE_FILE_MACHINE_I386;
#endif

class BuiltImagesTest : public testing::Test {
protected:
    void SetUp() override
    {
        exe_ = ReadFileBytes(VantrelExePath());
        ASSERT_FALSE(exe_.empty()) << "cannot read the built Vantrel.exe";
    }

    // The image's range of the application's file; empty when it lies outside.
    Bytes Cut(const DriverImage& image) const
    {
        if (image.offset > exe_.size() || exe_.size() - image.offset < image.length)
            return Bytes();
        return Bytes(exe_.begin() + image.offset, exe_.begin() + image.offset + image.length);
    }

    void ExpectDriverImage(const DriverImage& image, const wchar_t* builtDriver, WORD machine = kBuildMachine) const
    {
        Bytes cut = Cut(image);
        ASSERT_EQ(cut.size(), image.length) << "the image lies beyond the end of the file";
        EXPECT_EQ(ChecksumOf(cut), image.checksum);
        ASSERT_GE(cut.size(), 2u);
        EXPECT_EQ(cut[0], 'M');
        EXPECT_EQ(cut[1], 'Z');
        PeHeaders headers = ReadPeHeaders(cut);
        EXPECT_EQ(headers.machine, machine);
        EXPECT_EQ(headers.subsystem, IMAGE_SUBSYSTEM_NATIVE);
        EXPECT_TRUE(cut == ReadFileBytes(BuildOutputPath(builtDriver))) << "not the bytes of the built driver";
    }

    Bytes exe_;
};

TEST_F(BuiltImagesTest, ImageAIsTheDriverWithoutThePowerPassThrough)
{
    SCOPED_TRACE("image A");
    ExpectDriverImage(BUILT_DRIVER_IMAGES.a, DRIVER_IMAGE_A_RELATIVE_PATH);
}

TEST_F(BuiltImagesTest, ImageBFollowsImageAAndOnlyTheSignatureFollowsTheLastImage)
{
    SCOPED_TRACE("image B");
    const DriverImage& a = BUILT_DRIVER_IMAGES.a;
    const DriverImage& b = BUILT_DRIVER_IMAGES.b;
    const DriverImage& wow64 = BUILT_DRIVER_IMAGES.wow64;
    EXPECT_EQ(b.offset, a.offset + a.length) << "B begins where A ends";
    const DriverImage& last = wow64.length != 0 ? wow64 : b;
    if (wow64.length != 0) {
        EXPECT_EQ(wow64.offset, b.offset + b.length) << "the 64-bit image begins where B ends";
    }
    // The certificate table starts on the next 8-byte boundary and ends the file.
    IMAGE_DATA_DIRECTORY signature = ReadPeHeaders(exe_).certificates;
    EXPECT_EQ(signature.VirtualAddress, (static_cast<size_t>(last.offset) + last.length + 7) / 8 * 8)
        << "the signature follows the last image";
    EXPECT_EQ(static_cast<size_t>(signature.VirtualAddress) + signature.Size, exe_.size())
        << "the signature ends the file";
    ExpectDriverImage(b, DRIVER_IMAGE_B_RELATIVE_PATH);
}

#ifdef DRIVER_IMAGE_WOW64_RELATIVE_PATH
TEST_F(BuiltImagesTest, The32BitProgramCarriesThe64BitImageBFor64BitWindows)
{
    SCOPED_TRACE("64-bit image B");
    ExpectDriverImage(BUILT_DRIVER_IMAGES.wow64, DRIVER_IMAGE_WOW64_RELATIVE_PATH, IMAGE_FILE_MACHINE_AMD64);
}
#endif

}  // namespace
