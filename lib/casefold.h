// Unicode simple case mapping of single UTF-16 code units.
#pragma once

char16_t FoldCaseSimple(char16_t c);   // simple case folding (status C and S)
char16_t UpperCaseSimple(char16_t c);  // simple upper-case mapping
