#pragma once

#include <cstdint>

namespace mirrel::launcher {

// Byte count of files, chunks and progress; sizes in package documents are unsigned 64-bit.
using TFileSize = std::uint64_t;

// The numeric values are part of the package formats and the package status logic; keep them.
enum class EOperatingSystem : int { Unknown = 0, Windows = 1, MacOs = 2, Linux = 3 };

enum class EArchitecture : int { Unknown = 0, I386 = 1, X86_64 = 2 };

enum class EPackageGeneration : int { Unknown = 0, First = 1, Second = 2 };

// Beta is 3 and test is 4, in this order.
enum class EPackageVariant : int { Unknown = 0, Regular = 1, Preview = 2, Beta = 3, Test = 4 };

} // namespace mirrel::launcher
