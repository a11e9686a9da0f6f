// The result codes of our audio library. The song decoders answer with them too, so they
// stand apart from the library's interface (fmod_layer.hpp), which builds on the decoders.
#pragma once

#include <cstdint>

using FMOD_RESULT = std::int32_t;

// Result codes the layer gives; the binding's name table numbers them the same way.
inline constexpr FMOD_RESULT FMOD_OK = 0;
inline constexpr FMOD_RESULT FMOD_ERR_FILE_BAD = 19;
inline constexpr FMOD_RESULT FMOD_ERR_FILE_NOT_FOUND = 23;
inline constexpr FMOD_RESULT FMOD_ERR_FORMAT = 25;
inline constexpr FMOD_RESULT FMOD_ERR_INITIALIZED = 32;
inline constexpr FMOD_RESULT FMOD_ERR_INTERNAL = 33;
inline constexpr FMOD_RESULT FMOD_ERR_INVALID_HANDLE = 36;
inline constexpr FMOD_RESULT FMOD_ERR_INVALID_PARAM = 37;
inline constexpr FMOD_RESULT FMOD_ERR_MEMORY = 43;
inline constexpr FMOD_RESULT FMOD_ERR_OUTPUT_ALLOCATED = 55;
inline constexpr FMOD_RESULT FMOD_ERR_OUTPUT_INIT = 60;
inline constexpr FMOD_RESULT FMOD_ERR_UNINITIALIZED = 79;
