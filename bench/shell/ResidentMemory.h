#pragma once

// The resident memory of this process in bytes, or -1 when the system does not tell.
long long residentMemoryBytes();
