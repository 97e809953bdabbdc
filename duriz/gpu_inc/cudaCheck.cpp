#include "cudaCheck.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "duriz/mlsolver/OutOfMemory.h"

namespace {

struct NamedCode {
  unsigned int code;
  const char* name;
};

// Fixed here rather than asked of the runtime, so the message is the same in every build.
constexpr NamedCode kNames[] = {
    {0, "cudaSuccess"},
    {1, "cudaErrorInvalidValue"},
    {2, "cudaErrorMemoryAllocation"},
    {3, "cudaErrorInitializationError"},
    {4, "cudaErrorCudartUnloading"},
    {5, "cudaErrorProfilerDisabled"},
    {6, "cudaErrorProfilerNotInitialized"},
    {7, "cudaErrorProfilerAlreadyStarted"},
    {8, "cudaErrorProfilerAlreadyStopped"},
    {9, "cudaErrorInvalidConfiguration"},
    {12, "cudaErrorInvalidPitchValue"},
    {13, "cudaErrorInvalidSymbol"},
    {16, "cudaErrorInvalidHostPointer"},
    {17, "cudaErrorInvalidDevicePointer"},
    {18, "cudaErrorInvalidTexture"},
    {19, "cudaErrorInvalidTextureBinding"},
    {20, "cudaErrorInvalidChannelDescriptor"},
    {21, "cudaErrorInvalidMemcpyDirection"},
    {22, "cudaErrorAddressOfConstant"},
    {23, "cudaErrorTextureFetchFailed"},
    {24, "cudaErrorTextureNotBound"},
    {25, "cudaErrorSynchronizationError"},
    {26, "cudaErrorInvalidFilterSetting"},
    {27, "cudaErrorInvalidNormSetting"},
    {28, "cudaErrorMixedDeviceExecution"},
    {31, "cudaErrorNotYetImplemented"},
    {32, "cudaErrorMemoryValueTooLarge"},
    {35, "cudaErrorInsufficientDriver"},
    {37, "cudaErrorInvalidSurface"},
    {43, "cudaErrorDuplicateVariableName"},
    {44, "cudaErrorDuplicateTextureName"},
    {45, "cudaErrorDuplicateSurfaceName"},
    {46, "cudaErrorDevicesUnavailable"},
    {49, "cudaErrorIncompatibleDriverContext"},
    {52, "cudaErrorMissingConfiguration"},
    {53, "cudaErrorPriorLaunchFailure"},
    {65, "cudaErrorLaunchMaxDepthExceeded"},
    {66, "cudaErrorLaunchFileScopedTex"},
    {67, "cudaErrorLaunchFileScopedSurf"},
    {68, "cudaErrorSyncDepthExceeded"},
    {69, "cudaErrorLaunchPendingCountExceeded"},
    {98, "cudaErrorInvalidDeviceFunction"},
    {100, "cudaErrorNoDevice"},
    {101, "cudaErrorInvalidDevice"},
    {127, "cudaErrorStartupFailure"},
    {200, "cudaErrorInvalidKernelImage"},
    {205, "cudaErrorMapBufferObjectFailed"},
    {206, "cudaErrorUnmapBufferObjectFailed"},
    {209, "cudaErrorNoKernelImageForDevice"},
    {214, "cudaErrorECCUncorrectable"},
    {215, "cudaErrorUnsupportedLimit"},
    {216, "cudaErrorDeviceAlreadyInUse"},
    {217, "cudaErrorPeerAccessUnsupported"},
    {218, "cudaErrorInvalidPtx"},
    {219, "cudaErrorInvalidGraphicsContext"},
    {220, "cudaErrorNvlinkUncorrectable"},
    {302, "cudaErrorSharedObjectSymbolNotFound"},
    {303, "cudaErrorSharedObjectInitFailed"},
    {304, "cudaErrorOperatingSystem"},
    {400, "cudaErrorInvalidResourceHandle"},
    {600, "cudaErrorNotReady"},
    {700, "cudaErrorIllegalAddress"},
    {701, "cudaErrorLaunchOutOfResources"},
    {702, "cudaErrorLaunchTimeout"},
    {704, "cudaErrorPeerAccessAlreadyEnabled"},
    {705, "cudaErrorPeerAccessNotEnabled"},
    {708, "cudaErrorSetOnActiveProcess"},
    {710, "cudaErrorAssert"},
    {711, "cudaErrorTooManyPeers"},
    {712, "cudaErrorHostMemoryAlreadyRegistered"},
    {713, "cudaErrorHostMemoryNotRegistered"},
    {714, "cudaErrorHardwareStackError"},
    {715, "cudaErrorIllegalInstruction"},
    {716, "cudaErrorMisalignedAddress"},
    {717, "cudaErrorInvalidAddressSpace"},
    {718, "cudaErrorInvalidPc"},
    {719, "cudaErrorLaunchFailure"},
    {800, "cudaErrorNotPermitted"},
    {801, "cudaErrorNotSupported"},
    {999, "cudaErrorUnknown"},
    {10000, "cudaErrorApiFailureBase"},
};

static_assert(sizeof(kNames) / sizeof(kNames[0]) == 81, "the name table has 81 entries");

}  // namespace

const char* cudaResultName(unsigned int code) {
  for (const auto& entry : kNames)
    if (entry.code == code) return entry.name;
  return "<unknown>";
}

namespace {

// The build passes absolute paths; messages name the file as it stands in the source tree.
const char* sourceName(const char* file) {
  const std::size_t root = std::strlen(DZ_SOURCE_ROOT);
  return std::strncmp(file, DZ_SOURCE_ROOT, root) == 0 ? file + root : file;
}

}  // namespace

void throwCudaOutOfMemory(const char* expression, const char* file, int line) {
  cudaGetLastError();
  throw OutOfMemory(std::string("the device has no room for ") + expression + " at " + sourceName(file) + ":" +
                    std::to_string(line));
}

void checkCudaResult(unsigned int result, const char* expression, const char* file, int line) {
  file = sourceName(file);
  std::fprintf(stderr, "CUDA error at %s:%d code=%d(%s) \"%s\" \n", file, line, static_cast<int>(result),
               cudaResultName(result), expression);
  cudaDeviceReset();
  std::exit(1);
}
