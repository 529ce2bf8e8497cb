// SELM: the monochrome 752 x 480 (WVGA) camera of the PIMC family.
#include "okccamera/CCameraSELM.h"

#include "core/ModelInfo.h"

CCameraSELM::CCameraSELM(void* windowHandle) : CCameraPimcFamily(okc::core::ModelId::SELM, windowHandle) {}

CCameraSELM::~CCameraSELM() = default;
