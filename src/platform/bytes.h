// Bytes: the byte buffer used for bodies, file contents and binary data throughout the system. One
// definition serves every subsystem; it lives with the encoders, which depend on nothing else.
#pragma once

#include "encoding/bytes.h"
