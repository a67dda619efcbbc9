// The simulation's XML service: libxml2, made to give the tree MSXML 3 gives.
#pragma once

#include <memory>

#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/xml.h"

// Documents read their files through the simulated file system; paths are
// converted with the machine's ANSI code page.
std::unique_ptr<Xml> NewSimXml(FileSystem& files, Environment& environment);
