// The output formats of the library, one row each in formats.cpp: the binding,
// the Python package, `convert --to` and the fuzz target all read this table.
// A new format is a writer in a source file of its own and one row.
#pragma once

#include <string>
#include <vector>

#include "Reader.h"

struct OutputFormat {
  const char* name;         // as `convert --to` takes it
  const char* suffix;       // of the files written
  const char* description;  // one line, for help texts
  // Writes the whole file or nothing (through OutputFile); throws _Error.
  void (*write)(const Reader& reader, const std::string& path);
};

// Every format, in the order help texts list them.
const std::vector<OutputFormat>& output_formats();
// The format called `name`; throws _Error naming the known ones otherwise.
const OutputFormat& output_format(const std::string& name);

// One line of text, as a title line: line breaks become spaces, trailing
// spaces go.
std::string one_line(std::string s);
