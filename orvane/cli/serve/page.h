// The bench view's page: HTML, CSS and script from orvane/cli/serve/page/,
// compiled in (cmake/embed.cmake makes page_files.cpp at build time).
#ifndef ORVANE_CLI_SERVE_PAGE_H
#define ORVANE_CLI_SERVE_PAGE_H

#include <cstddef>
#include <vector>

struct PageFile
{
    const char* path;   // as requested: "/", "/bench.css", ...
    const char* type;   // its Content-Type
    const char* data;
    size_t size;
};

const std::vector<PageFile>& PageFiles();

#endif
