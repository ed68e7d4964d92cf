// The built shared library, loaded the way a host loads it.
#pragma once

#include <string>

#include "VelorikWAVDistortion.h"

namespace testing_support {

class Library {
public:
    using Distortion = int32_t(VWD_CALL*)(const VwdChar16*, const VwdChar16*, int32_t);
    using Start = int32_t(VWD_CALL*)(const VwdChar16*);
    using Stop = int32_t(VWD_CALL*)();

    explicit Library(const std::string& path = VWD_LIBRARY_PATH);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    void* Symbol(const char* name) const;
    bool Close();

    Distortion WAVDistortion;
    Start SoundRecorderStart;
    Stop SoundRecorderStop;

private:
    void* handle_;
};

}  // namespace testing_support
