// PIMC: the colour 640 x 480 camera of the PIMC family.
#include "okccamera/CCameraPIMC.h"

#include "core/ModelInfo.h"

CCameraPIMC::CCameraPIMC(void* windowHandle) : CCameraPimcFamily(okc::core::ModelId::PIMC, windowHandle) {}

CCameraPIMC::~CCameraPIMC() = default;
