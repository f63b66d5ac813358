# FFmpeg's libraries through pkg-config, as one imported target: PkgConfig::FFMPEG.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET
  libavformat libavcodec libavutil libswscale libswresample libavfilter)
# libwebp's demuxer and decoder, for the animated WebP files FFmpeg does not play.
pkg_check_modules(WEBP REQUIRED IMPORTED_TARGET libwebpdemux libwebp)
