# Writes the C++ source of the FPGA configuration image: a deterministic placeholder of SIZE
# bytes (a repeating 0..255 ramp), since the program only streams the image and never looks
# into it. Run at build time: cmake -DOUTPUT=<file.cpp> -DSIZE=<bytes> -P FpgaImage.cmake
if(NOT OUTPUT OR NOT SIZE)
  message(FATAL_ERROR "FpgaImage.cmake needs OUTPUT and SIZE")
endif()

set(_ramp "")
foreach(_i RANGE 0 255)
  string(APPEND _ramp "${_i},")
  math(EXPR _col "${_i} % 16")
  if(_col EQUAL 15)
    string(APPEND _ramp "\n")
  endif()
endforeach()

math(EXPR _blocks "${SIZE} / 256")
math(EXPR _rest "${SIZE} % 256")
string(REPEAT "${_ramp}" ${_blocks} _body)
if(_rest GREATER 0)
  math(EXPR _last "${_rest} - 1")
  foreach(_i RANGE 0 ${_last})
    string(APPEND _body "${_i},")
  endforeach()
  string(APPEND _body "\n")
endif()

file(WRITE "${OUTPUT}.tmp"
"// Generated at build time by cmake/FpgaImage.cmake: the placeholder FPGA configuration image.
#include \"hardware/chip_acq.h\"

const uint8_t tuc_l_fpga[] = {
${_body}};
static_assert(sizeof(tuc_l_fpga) == kFpgaImageSize, \"the image has the configuration stream's length\");
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
