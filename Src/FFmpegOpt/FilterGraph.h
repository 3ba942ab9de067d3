// A filter graph of the task: -filter_complex appends one per option; simple
// graphs (one per encoded output stream) have no description of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
}

#include "FFUtils/YuvConverter.h"
#include "FFmpegOpt/CodecContext.h"

namespace vexa {

struct TInputStream;
struct TOutputStream;
struct TFilterGraph;

struct TFilterGraphFree {
  void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};
using TFilterGraphPtr = std::unique_ptr<AVFilterGraph, TFilterGraphFree>;

// A list of open pads as avfilter_graph_parse2 returns it (the whole chain).
struct TFilterInOutFree {
  void operator()(AVFilterInOut* inout) const { avfilter_inout_free(&inout); }
};
using TFilterInOutPtr = std::unique_ptr<AVFilterInOut, TFilterInOutFree>;

// One graph input: the buffer source that an input stream feeds.
struct TInputFilter {
  AVFilterContext* Filter = nullptr;  // the source instance; owned by Graph->Graph
  TInputStream* InputStream = nullptr;
  TFilterGraph* Graph = nullptr;
  std::string Name;  // filter instance name, ":" and the pad name when it has several inputs
  // When the graph's first step would be a same-size conversion of the
  // decoded pictures to yuv420p, the engine converts them itself before they
  // enter (Converter, into Converted) and the source takes yuv420p.
  // AV_PIX_FMT_NONE: the pictures enter as decoded. Decided anew by every
  // configuration of the graph.
  AVPixelFormat ConvertTo = AV_PIX_FMT_NONE;
  std::unique_ptr<TYuvConverter> Converter;
  TAVFramePtr Converted;
};

// One graph output: the buffer sink that feeds an output stream.
struct TOutputFilter {
  AVFilterContext* Filter = nullptr;  // the sink instance; owned by Graph->Graph
  TOutputStream* OutputStream = nullptr;
  TFilterGraph* Graph = nullptr;
  std::string Name;
  // A complex graph's output pad that is not bound to an output stream yet
  // (a single element, detached from the parse result); its filter_ctx lives
  // in Graph->Graph.
  TFilterInOutPtr PendingOutput;
};

struct TFilterGraph {
  int Index = 0;  // position in the engine's filter graph list
  std::optional<std::string> GraphDescription;  // the -filter_complex text; none for a simple graph
  TFilterGraphPtr Graph;  // none until the first configuration; rebuilt by every configuration
  int Reconfiguration = 0;  // 0 before the first configuration, 1 after it
  std::vector<std::unique_ptr<TInputFilter>> Inputs;
  std::vector<std::unique_ptr<TOutputFilter>> Outputs;
};

}  // namespace vexa
