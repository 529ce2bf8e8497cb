// SELC: the colour 752 x 480 (WVGA) camera of the PIMC family.
#include "okccamera/CCameraSELC.h"

#include "core/ModelInfo.h"

CCameraSELC::CCameraSELC(void* windowHandle) : CCameraPimcFamily(okc::core::ModelId::SELC, windowHandle) {}

CCameraSELC::~CCameraSELC() = default;
