# FFmpeg's libraries through pkg-config, as one imported target: PkgConfig::FFMPEG.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET
  libavformat libavcodec libavutil libswscale libswresample libavfilter)
