# Embeds the firmware the program carries (an Intel HEX text) as BuiltinFirmwareText(), and
# stops the configure when the version constants of BuiltinFirmware.h disagree with the
# version block of that text.
#
# Another build of the firmware: -DTARVEX_BUILTIN_FIRMWARE=<file.hex>, and change
# BuiltinFirmwareVersion and the date in BuiltinWindowTitle to its version block.

set(TARVEX_BUILTIN_FIRMWARE "${PROJECT_SOURCE_DIR}/firmware/tarvex6-241004.hex"
    CACHE FILEPATH "Intel HEX text embedded as the built-in firmware")
set(_fw_header "${CMAKE_CURRENT_LIST_DIR}/BuiltinFirmware.h")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${TARVEX_BUILTIN_FIRMWARE}" "${_fw_header}")

file(READ "${TARVEX_BUILTIN_FIRMWARE}" _fw_text)
file(READ "${TARVEX_BUILTIN_FIRMWARE}" _fw_bytes HEX)

# The version block: 12 bytes at 0xF120, 55 AA AA 55, six ASCII digits, 02 00.
string(REGEX MATCH ":0[Cc][Ff]1200055[Aa][Aa][Aa][Aa]55(3[0-9]3[0-9]3[0-9]3[0-9]3[0-9]3[0-9])0200"
       _fw_block "${_fw_text}")
if(NOT _fw_block)
    message(FATAL_ERROR "${TARVEX_BUILTIN_FIRMWARE}: no version block "
                        "(55 AA AA 55, six digits, 02 00) in a 12-byte record at F120")
endif()
string(REGEX REPLACE "3([0-9])" "\\1" _fw_version "${CMAKE_MATCH_1}")

file(READ "${_fw_header}" _fw_decl)
string(REGEX MATCH "BuiltinFirmwareVersion = \"([0-9]*)\"" _m "${_fw_decl}")
set(_decl_version "${CMAKE_MATCH_1}")
string(REGEX MATCH "BuiltinWindowTitle = \"[^\"]*\\(від ([0-9][0-9]\\.[0-9][0-9]\\.[0-9][0-9])\\)\""
       _m "${_fw_decl}")
set(_decl_date "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^(..)(..)(..)$" "\\3.\\2.\\1" _fw_date "${_fw_version}")
if(NOT _decl_version STREQUAL _fw_version)
    message(FATAL_ERROR "BuiltinFirmwareVersion is \"${_decl_version}\" but the version block "
                        "of ${TARVEX_BUILTIN_FIRMWARE} reads \"${_fw_version}\"")
endif()
if(NOT _decl_date STREQUAL _fw_date)
    message(FATAL_ERROR "The date in BuiltinWindowTitle is \"${_decl_date}\" but the version "
                        "block of ${TARVEX_BUILTIN_FIRMWARE} gives \"${_fw_date}\"")
endif()

# A byte array: no string-literal length limits, any byte allowed.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _fw_array "${_fw_bytes}")
set(TARVEX_GENERATED_CORE_DIR "${CMAKE_CURRENT_BINARY_DIR}/generated")
file(CONFIGURE OUTPUT "${TARVEX_GENERATED_CORE_DIR}/BuiltinFirmwareText.cpp" @ONLY CONTENT
"// Generated from @TARVEX_BUILTIN_FIRMWARE@ by BuiltinFirmware.cmake; do not edit.
#include \"BuiltinFirmware.h\"

namespace {
constexpr unsigned char Text[] = {
@_fw_array@};
} // namespace

// Checked again here in case the header changed without a new configure.
static_assert(std::string_view(BuiltinFirmwareVersion) == \"@_fw_version@\",
              \"BuiltinFirmwareVersion disagrees with the embedded firmware's version block\");
static_assert(std::string_view(BuiltinWindowTitle).ends_with(\"(від @_fw_date@)\"),
              \"the window title's date disagrees with the embedded firmware's version block\");

std::string_view BuiltinFirmwareText() {
    return {reinterpret_cast<const char*>(Text), sizeof Text};
}
")
set(TARVEX_GENERATED_CORE_SOURCES "${TARVEX_GENERATED_CORE_DIR}/BuiltinFirmwareText.cpp")

# An older and a newer build of the same firmware, for tests of the version gate.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_FOUND)
    set(_fw_dir "${CMAKE_BINARY_DIR}/firmware")
    file(MAKE_DIRECTORY "${_fw_dir}")
    foreach(_v 230915 250101)
        execute_process(COMMAND "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/tools/make_firmware.py"
                                --version ${_v} -o "${_fw_dir}/tarvex6-${_v}.hex"
                        RESULT_VARIABLE _rc)
        if(NOT _rc EQUAL 0)
            message(FATAL_ERROR "tools/make_firmware.py --version ${_v} failed")
        endif()
    endforeach()
    set(TARVEX_FIRMWARE_OLDER "${_fw_dir}/tarvex6-230915.hex" CACHE INTERNAL "older firmware build")
    set(TARVEX_FIRMWARE_NEWER "${_fw_dir}/tarvex6-250101.hex" CACHE INTERNAL "newer firmware build")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 "${PROJECT_SOURCE_DIR}/tools/make_firmware.py")
endif()
