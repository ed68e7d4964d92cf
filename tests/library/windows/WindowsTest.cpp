// The DLL as a Windows host sees it, under Wine: exports by name and ordinal,
// the version resource, the distortion pass with ANSI names, and the recorder on winmm.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/StrictWaveIn.h"
#include "VelorikWAVDistortion.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Distortion = int32_t(VWD_CALL*)(const wchar_t*, const wchar_t*, int32_t);
using Start = int32_t(VWD_CALL*)(const wchar_t*);
using Stop = int32_t(VWD_CALL*)();

const wchar_t* const DllName = L"VelorikWAVDistortion.dll";

struct Dll {
    Dll() : module(LoadLibraryW(DllName)) {
        distort = reinterpret_cast<Distortion>(reinterpret_cast<void*>(GetProcAddress(module, "WAVDistortion")));
        start = reinterpret_cast<Start>(reinterpret_cast<void*>(GetProcAddress(module, "SoundRecorderStart")));
        stop = reinterpret_cast<Stop>(reinterpret_cast<void*>(GetProcAddress(module, "SoundRecorderStop")));
    }
    ~Dll() {
        if (module) FreeLibrary(module);
    }
    HMODULE module;
    Distortion distort;
    Start start;
    Stop stop;
};

std::wstring TempDir() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    for (int i = 0;; ++i) {
        std::wstring dir = std::wstring(base) + L"vwd-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(i);
        if (CreateDirectoryW(dir.c_str(), nullptr)) return dir;
    }
}

void Write(const std::wstring& path, const Bytes& bytes) {
    std::FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

Bytes Read(const std::wstring& path) {
    Bytes bytes;
    std::FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr) return bytes;
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
    return bytes;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Bytes Wav(const std::vector<int16_t>& samples) {
    Bytes out(44, 0);
    const char* ids = "RIFF....WAVEfmt ";
    for (int i = 0; i < 16; ++i) out[i] = static_cast<unsigned char>(ids[i]);
    out[36] = 'd', out[37] = 'a', out[38] = 't', out[39] = 'a';
    out[40] = static_cast<unsigned char>(samples.size() * 2);
    for (int16_t s : samples) {
        out.push_back(static_cast<unsigned char>(s & 0xFF));
        out.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
    }
    return out;
}

uint32_t U32(const Bytes& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<uint32_t>(b.at(at + 3)) << 24;
}

TEST(Dll, OrdinalsAndNamesGiveTheSameFunctions) {
    Dll dll;
    ASSERT_NE(dll.module, nullptr);
    const char* names[] = {"WAVDistortion", "SoundRecorderStart", "SoundRecorderStop"};
    for (WORD ordinal = 1; ordinal <= 3; ++ordinal) {
        FARPROC byOrdinal = GetProcAddress(dll.module, MAKEINTRESOURCEA(ordinal));
        ASSERT_NE(byOrdinal, nullptr) << ordinal;
        EXPECT_EQ(byOrdinal, GetProcAddress(dll.module, names[ordinal - 1])) << names[ordinal - 1];
    }
    EXPECT_EQ(GetProcAddress(dll.module, MAKEINTRESOURCEA(4)), nullptr);
    EXPECT_EQ(GetProcAddress(dll.module, "ClipSample"), nullptr);
}

TEST(Dll, VersionResource) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(DllName, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(DllName, 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    auto text = [&](const wchar_t* key) {
        wchar_t* value = nullptr;
        UINT chars = 0;
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
        return VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars) ? std::wstring(value)
                                                                                                    : std::wstring();
    };
    EXPECT_EQ(text(L"FileDescription"), L"VelorikWAVDistortion DLL");
    EXPECT_EQ(text(L"OriginalFilename"), L"VelorikWAVDistortion.DLL");
    EXPECT_EQ(text(L"InternalName"), L"VelorikWAVDistortion");
    EXPECT_EQ(text(L"FileVersion"), L"1.0.0.1");
}

TEST(Distortion, ClipsAndRefusesWhatItMust) {
    Dll dll;
    const std::wstring dir = TempDir(), in = dir + L"\\in.wav", out = dir + L"\\out.wav";
    Write(in, Wav({150, -150, 99, -100, 32767}));
    EXPECT_EQ(dll.distort(in.c_str(), out.c_str(), 100), StatusSuccess);
    EXPECT_EQ(Read(out), Wav({100, -100, 99, -100, 100}));
    EXPECT_EQ(dll.distort(in.c_str(), out.c_str(), -100), StatusSuccess);
    EXPECT_EQ(Read(out), Wav({-100, 100, -100, 100, -100}));
    Bytes odd = Wav({2000});
    odd.push_back(1);
    Write(in, odd);
    EXPECT_EQ(dll.distort(in.c_str(), out.c_str(), 65636), StatusSuccess);
    EXPECT_EQ(Read(out), Wav({100}));

    const Bytes kept = Read(in);
    EXPECT_EQ(dll.distort((dir + L"\\missing.wav").c_str(), (dir + L"\\new.wav").c_str(), 1), StatusOpenFailed);
    EXPECT_FALSE(Exists(dir + L"\\new.wav"));
    EXPECT_EQ(dll.distort(in.c_str(), (dir + L"\\no\\out.wav").c_str(), 1), StatusOpenFailed);
    EXPECT_EQ(dll.distort(in.c_str(), in.c_str(), 1), StatusOpenFailed);
    EXPECT_EQ(dll.distort(in.c_str(), (dir + L"\\.\\in.wav").c_str(), 1), StatusOpenFailed);
    EXPECT_EQ(dll.distort(nullptr, out.c_str(), 1), StatusOpenFailed);
    EXPECT_EQ(dll.distort(dir.c_str(), out.c_str(), 1), StatusOpenFailed) << "a directory is no input";
    EXPECT_EQ(Read(in), kept);
}

TEST(Distortion, NameTheCodePageCannotHoldNeverOpensALookAlike) {
    Dll dll;
    const std::wstring dir = TempDir();
    Write(dir + L"\\a.wav", Wav({500}));
    // "ą" has no place in the ANSI code page; a best fit would turn it into "a".
    EXPECT_EQ(dll.distort((dir + L"\\\x0105.wav").c_str(), (dir + L"\\out.wav").c_str(), 1), StatusOpenFailed);
    EXPECT_FALSE(Exists(dir + L"\\out.wav"));
    EXPECT_EQ(dll.distort((dir + L"\\a.wav").c_str(), (dir + L"\\\x0105-out.wav").c_str(), 1), StatusOpenFailed);
    EXPECT_EQ(Read(dir + L"\\a.wav"), Wav({500}));
}

TEST(Recorder, WithoutACaptureDeviceStartFailsAndStopFinishesAnEmptyWav) {
    Dll dll;
    const std::wstring path = TempDir() + L"\\none.wav";
    EXPECT_EQ(dll.start(path.c_str()), StatusOpenFailed);
    EXPECT_EQ(dll.stop(), 0);
    const Bytes file = Read(path);
    ASSERT_EQ(file.size(), 44u);
    EXPECT_EQ(U32(file, 4), 36u);
    EXPECT_EQ(U32(file, 40), 0u);
}

// FreeLibrary mid-recording: the recorder's thread holds the DLL, so nothing is
// unmapped under it; the recording goes on, valid at every block, and the
// library loaded again finishes it.
TEST(RecorderOnDevice, AHostThatFreesTheDllMidRecordingCanLoadItAgainAndStop) {
    const std::wstring path = TempDir() + L"\\freed.wav";
    {
        Dll dll;
        const auto reset = reinterpret_cast<void (*)(const StrictScript*)>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"winmm.dll"), "StrictReset")));
        StrictScript script{};
        script.pacedMsPerSecond = 200;
        if (reset) reset(&script);
        ASSERT_EQ(dll.start(path.c_str()), StatusSuccess);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    EXPECT_NE(GetModuleHandleW(DllName), nullptr) << "the recording's thread holds the DLL";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Dll again;
    const int32_t blocks = again.stop();
    EXPECT_GE(blocks, 1);
    const Bytes file = Read(path);
    ASSERT_EQ(file.size(), 44u + 16000u * blocks);
    EXPECT_EQ(U32(file, 40), 16000u * blocks);
    EXPECT_EQ(again.stop(), 0);
}

// On Wine's winmm (fed by ALSA) or, where this program has it beside it, on
// the strict winmm, which also counts lost samples and calls from its callback.
TEST(RecorderOnDevice, RecordsWholeBlocksWithAnExactHeaderTwice) {
    Dll dll;
    const HMODULE winmm = GetModuleHandleW(L"winmm.dll");
    const auto reset = reinterpret_cast<void (*)(const StrictScript*)>(
        reinterpret_cast<void*>(GetProcAddress(winmm, "StrictReset")));
    const auto counts = reinterpret_cast<void (*)(StrictCounts*)>(
        reinterpret_cast<void*>(GetProcAddress(winmm, "StrictGetCounts")));
    const auto ramp = reinterpret_cast<int16_t (*)(uint64_t)>(reinterpret_cast<void*>(GetProcAddress(winmm, "StrictRamp")));
    // A name outside the ANSI code page: the recorder opens it as UTF-16.
    const std::wstring path = TempDir() + L"\\nagranie-\x0105.wav";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        StrictScript script{};
        script.pacedMsPerSecond = 200;
        if (reset) reset(&script);
        ASSERT_EQ(dll.start(path.c_str()), StatusSuccess);
        std::this_thread::sleep_for(std::chrono::milliseconds(reset ? 1300 : 3500));
        const int32_t blocks = dll.stop();
        EXPECT_GE(blocks, reset ? 5 : 2);
        const Bytes file = Read(path);
        ASSERT_EQ(file.size(), 44u + 16000u * blocks);
        EXPECT_EQ(U32(file, 4), 16000u * blocks + 36);
        EXPECT_EQ(U32(file, 24), 8000u);
        EXPECT_EQ(U32(file, 40), 16000u * blocks);
        EXPECT_EQ(dll.stop(), 0);
        if (!reset) continue;
        StrictCounts seen{};
        counts(&seen);
        EXPECT_EQ(seen.samplesDropped, 0u);
        EXPECT_EQ(seen.callsFromCallback, 0);
        for (uint64_t n = 0; n < seen.samplesDelivered; ++n)
            ASSERT_EQ(static_cast<int16_t>(file[44 + 2 * n] | file[45 + 2 * n] << 8), ramp(n)) << "sample " << n;
    }
}

}  // namespace
