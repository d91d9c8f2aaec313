#pragma once

#include <cstdint>

// Unicode simple case folding of one code point: the code point that all its
// case variants share (A and a give a, Ä and ä give ä, Д and д give д).
// Code points without a folding, and values beyond Unicode, come back as they are.
uint32_t FoldCase(uint32_t nCodePoint);
