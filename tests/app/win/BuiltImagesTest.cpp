// The built Vantrel.exe carries the two driver images where the generated
// constants say: A at its offset, B right after it and then only the
// program's signature, each a native-subsystem PE image with the expected word checksum and the
// bytes of the driver the build made.
#include "DriverImages.h"
#include "FileBytes.h"
#include "VantrelProcess.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <utility>
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

// The subsystem field of a PE image's optional header; 0 when it is no PE image.
WORD PeSubsystem(const Bytes& image)
{
    IMAGE_DOS_HEADER dos;
    if (!ReadAt(image, 0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0)
        return 0;
    IMAGE_NT_HEADERS64 nt;
    if (!ReadAt(image, static_cast<size_t>(dos.e_lfanew), &nt) || nt.Signature != IMAGE_NT_SIGNATURE ||
        nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return 0;
    return nt.OptionalHeader.Subsystem;
}

// The file range of a PE image's certificate table (offset, size); {0, 0}
// when it has none.
std::pair<size_t, size_t> CertificateTable(const Bytes& image)
{
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS64 nt;
    if (!ReadAt(image, 0, &dos) || dos.e_lfanew < 0 || !ReadAt(image, static_cast<size_t>(dos.e_lfanew), &nt))
        return {0, 0};
    const IMAGE_DATA_DIRECTORY& table = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    return {table.VirtualAddress, table.Size};
}

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

    void ExpectDriverImage(const DriverImage& image, const wchar_t* builtDriver) const
    {
        Bytes cut = Cut(image);
        ASSERT_EQ(cut.size(), image.length) << "the image lies beyond the end of the file";
        EXPECT_EQ(ChecksumOf(cut), image.checksum);
        ASSERT_GE(cut.size(), 2u);
        EXPECT_EQ(cut[0], 'M');
        EXPECT_EQ(cut[1], 'Z');
        EXPECT_EQ(PeSubsystem(cut), IMAGE_SUBSYSTEM_NATIVE);
        EXPECT_TRUE(cut == ReadFileBytes(BuildOutputPath(builtDriver))) << "not the bytes of the built driver";
    }

    Bytes exe_;
};

TEST_F(BuiltImagesTest, ImageAIsTheDriverWithoutThePowerPassThrough)
{
    SCOPED_TRACE("image A");
    ExpectDriverImage(BUILT_DRIVER_IMAGES.a, DRIVER_IMAGE_A_RELATIVE_PATH);
}

TEST_F(BuiltImagesTest, ImageBFollowsImageAAndOnlyTheSignatureFollowsB)
{
    SCOPED_TRACE("image B");
    const DriverImage& a = BUILT_DRIVER_IMAGES.a;
    const DriverImage& b = BUILT_DRIVER_IMAGES.b;
    EXPECT_EQ(b.offset, a.offset + a.length) << "B begins where A ends";
    // The certificate table starts on the next 8-byte boundary and ends the file.
    auto [signature, signatureSize] = CertificateTable(exe_);
    EXPECT_EQ(signature, (static_cast<size_t>(b.offset) + b.length + 7) / 8 * 8) << "the signature follows B";
    EXPECT_EQ(signature + signatureSize, exe_.size()) << "the signature ends the file";
    ExpectDriverImage(b, DRIVER_IMAGE_B_RELATIVE_PATH);
}

}  // namespace
