# Turns an image file into a C++ source that defines qdx::BuiltinImage(), after checking that
# the writer will accept it: key, checksum, whole sectors, at most 5 MiB.
# Run as: cmake -DINPUT=image -DPLACEHOLDER=placeholder -DOUTPUT=source.cpp -P EmbedImage.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT EXISTS "${INPUT}")
    message(FATAL_ERROR "IM/PM image ${INPUT} does not exist")
endif()
file(SIZE "${INPUT}" size)
set(max_size 5242880)
if(size LESS_EQUAL 512)
    message(FATAL_ERROR "IM/PM image ${INPUT}: ${size} bytes, no payload after the 512-byte header")
endif()
if(size GREATER max_size)
    message(FATAL_ERROR "IM/PM image ${INPUT}: ${size} bytes, more than the 5 MiB the writer reads")
endif()
math(EXPR tail "${size} % 512")
if(NOT tail EQUAL 0)
    message(FATAL_ERROR "IM/PM image ${INPUT}: ${size} bytes is not a whole number of 512-byte sectors")
endif()

# Compared in hex: a text read would not give the raw bytes.
file(READ "${INPUT}" key_hex LIMIT 7 HEX)
if(NOT key_hex STREQUAL "76656c6d6f7261")
    message(FATAL_ERROR "IM/PM image ${INPUT}: the first 7 bytes are not the key \"velmora\"")
endif()
file(READ "${INPUT}" stored_hex OFFSET 14 LIMIT 2 HEX)
math(EXPR stored "0x${stored_hex}")

# Read in chunks: one math expression of a few thousand terms per chunk keeps this fast, and
# each chunk is appended to the source as it goes.
set(chunk_bytes 4096)
set(sum 0)
set(offset 0)
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${INPUT} by EmbedImage.cmake; do not edit.\n"
    "#include \"files/BuiltinImage.h\"\n\n"
    "namespace {\n"
    "alignas(16) const std::uint8_t kImage[${size}] = {\n")
while(offset LESS size)
    file(READ "${INPUT}" hex OFFSET ${offset} LIMIT ${chunk_bytes} HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    file(APPEND "${OUTPUT}.tmp" "${bytes}\n")
    if(offset GREATER_EQUAL 512)
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "+0x\\1" terms "${hex}")
        math(EXPR sum "(${sum}${terms}) % 65536")
    else()
        # The first chunk holds the header; only bytes 512 on count.
        string(SUBSTRING "${hex}" 1024 -1 payload_hex)
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "+0x\\1" terms "${payload_hex}")
        math(EXPR sum "(${sum}${terms}) % 65536")
    endif()
    math(EXPR offset "${offset} + ${chunk_bytes}")
endwhile()
if(NOT sum EQUAL stored)
    math(EXPR stored_out "${stored}" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR sum_out "${sum}" OUTPUT_FORMAT HEXADECIMAL)
    file(REMOVE "${OUTPUT}.tmp")
    message(FATAL_ERROR "IM/PM image ${INPUT}: checksum ${stored_out} stored in bytes 14-15, "
                        "but the payload sums to ${sum_out}")
endif()
# The placeholder is known by its bytes, wherever the file that holds it lies.
set(placeholder false)
if(EXISTS "${PLACEHOLDER}")
    file(SHA256 "${INPUT}" input_hash)
    file(SHA256 "${PLACEHOLDER}" placeholder_hash)
    if(input_hash STREQUAL placeholder_hash)
        set(placeholder true)
    endif()
endif()
file(APPEND "${OUTPUT}.tmp"
    "};\n"
    "}  // namespace\n\n"
    "std::span<const std::uint8_t> qdx::BuiltinImage() { return kImage; }\n"
    "bool qdx::BuiltinImageIsPlaceholder() { return ${placeholder}; }\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
