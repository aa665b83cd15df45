// The readers that take bytes from outside the program, each as one function
// of a byte string: the libFuzzer programs call them with generated inputs,
// and the regression test calls them with every input that once failed.
// Each returns normally for any input; a damaged input ends in the reader's
// own error, never in a crash, a hang or a wrong read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kesfuzz {

int ReadDbf(const uint8_t* data, size_t size);           // a DBF table, every field of every record
int ReadNtx(const uint8_t* data, size_t size);           // a Clipper NTX index
int ReadCdx(const uint8_t* data, size_t size);           // a FoxPro CDX index
int CompileExpression(const uint8_t* data, size_t size); // an xBase expression on a small table
int ReadSettings(const uint8_t* data, size_t size);      // the settings file

} // namespace kesfuzz
