#pragma once
// A mirror of its own below the prefix's temp folder, with the storage's log beside it.
#include "SettingsFixture.h"
#include "uGLBShellTools.h"
#include "uTVirtualFileStorage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class MirrorTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        Root = MakeTempFolder("mirror");
        WriteRegistryString("Application", "install", Root);
        WriteRegistryInteger("Application", "debug", 1);
    }
    void TearDown() override {
        shl_DeleteFolder(Root.substr(0, Root.size() - 1));
        SettingsTest::TearDown();
    }
    static TVirtualFileRecord File(const std::string& path, const std::string& name, const std::string& cache,
                                   int32_t size) {
        TVirtualFileRecord r;
        TVirtualFileStorage::InitRecord(r);
        r.Path = path;
        r.Name = name;
        r.CacheName = cache;
        r.Size = size;
        return r;
    }
    static TVirtualFileRecord Folder(const std::string& path) {
        TVirtualFileRecord r;
        TVirtualFileStorage::InitRecord(r);
        r.IsFolder = true;
        r.Path = path;
        r.Name = path.substr(path.find_last_of('\\') + 1);
        return r;
    }
    static bool Exists(const std::string& file) {
        return GetFileAttributesW(Utf8ToWide(file).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    std::string LogText() const {
        std::ifstream in(std::filesystem::path(Utf8ToWide(Root + "VirtualFileStorage.log")), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string Root;
};
