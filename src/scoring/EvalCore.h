// The scoring of helmet-eval, for every program that scores a ZORCustomHMD
// library the same way: ground truth of both label formats, class maps, IoU,
// COCO-style matching and AP, also per object size.
#pragma once

#include "AveragePrecision.h"
#include "Boxes.h"
#include "ClassMap.h"
#include "Evaluator.h"
#include "ExcludeList.h"
#include "Matching.h"
#include "ObjectSize.h"
#include "RendererLabels.h"
#include "ToolExit.h"
#include "YoloLabels.h"
