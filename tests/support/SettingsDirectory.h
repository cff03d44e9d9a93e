// A fresh current directory per test, so that each test has its own
// ".\Vantrel.ini", on a machine that lives as long as the test.
#pragma once

#include "TestMachine.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#ifdef _WIN32
#include <direct.h>
#define chdir       _chdir
#define getcwd      _getcwd
#define mkdir(path) _mkdir(path)
#define rmdir       _rmdir
#else
#include <sys/stat.h>
#include <unistd.h>
#define mkdir(path) ::mkdir(path, 0755)
#endif

class SettingsDirectory : public ::testing::Test {
protected:
    void SetUp() override
    {
        char cwd[1024];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        original_ = cwd;
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = MakeFreshDir(std::string(test->test_suite_name()) + "-" + test->name());
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(original_.c_str()), 0); }

    // Writes the whole settings file, lines ended by CR LF.
    static void WriteFileText(const std::string& text)
    {
        FILE* f = fopen("Vantrel.ini", "wb");
        ASSERT_NE(f, nullptr);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }

    static std::string FileText()
    {
        std::string text;
        if (FILE* f = fopen("Vantrel.ini", "rb")) {
            char buffer[4096];
            size_t n;
            while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
                text.append(buffer, n);
            fclose(f);
        }
        return text;
    }

    // A folder where the settings file belongs: every write of it fails, under
    // Wine and on the simulation alike. A read-only file would not do: Wine
    // lets root write it, and the tests run as root.
    static void BlockSettingsFile() { mkdir("Vantrel.ini"); }

    static bool FileHasSection(const std::string& name)
    {
        return FileText().find("[" + name + "]") != std::string::npos;
    }

    // A directory beside the test's start directory, without a settings file.
    std::string MakeFreshDir(const std::string& name) const
    {
        std::string dir = original_ + "/settings-" + name;
        mkdir(dir.c_str());
        remove((dir + "/Vantrel.ini").c_str());
        rmdir((dir + "/Vantrel.ini").c_str());
        return dir;
    }

    TestMachine machine_;
    std::string original_;
    std::string dir_;
};
