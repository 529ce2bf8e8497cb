/* OKCCamera: what the shared library exports. The library is built with hidden
 * visibility; only declarations marked OKC_API are part of its interface. */
#ifndef OKCCAMERA_EXPORT_H
#define OKCCAMERA_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define OKC_API __attribute__((visibility("default")))
#else
#define OKC_API
#endif

#endif
