#pragma once

#include <cstddef>
#include <cstdint>

// The entry point libFuzzer calls with each input; StandaloneFuzzMain.cpp calls it the same
// way where libFuzzer is not available.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
