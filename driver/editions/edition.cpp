// The one definition of `edition` in a program. Which table it is made of is
// the build's choice of edition (KORIN_EDITION_TABLE names the initializer
// generated from that edition's text table).
#include "driver/edition.h"

const EditionTexts edition =
#include KORIN_EDITION_TABLE
    ;
