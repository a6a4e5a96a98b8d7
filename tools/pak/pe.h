// What "pak attach" checks about its target before appending to it.
#pragma once

#include <cstdint>

// Reads n bytes at offset into buffer; 0 when all of them came, else -1.
typedef int (*ReadAt)(uint32_t offset, void *buffer, int n, void *context);

// 1 when the file is a PE image whose security directory (data directory 4)
// is not empty, i.e. it already carries a code signature; 0 otherwise, also
// for a file that is no PE image.
int pe_is_signed(ReadAt read, void *context);

// 1 when the file already ends in an appended archive: its last 4 bytes hold
// an offset at which "PAKS" stands, before the trailer.
int has_appended_archive(ReadAt read, void *context, uint32_t file_size);
