#include "app/cli/demo_flow.h"

namespace lumets {

const char* const DemoFlowJson = R"json({
  "flow": 1,
  "frames": [0, 47],
  "seed": 7,
  "background": {"width": 640, "height": 360, "color": [0.01, 0.012, 0.03, 1.0]},
  "particle": {"shape": "dot", "size": 24},
  "controls": {
    "Birthrate": 12,
    "Lifetime": 40,
    "Start": [0.47, 0.82], "End": [0.53, 0.82],
    "Orientation": 90, "Spread": 0.12,
    "Speed": 0.035, "SpeedVariance": 0.3,
    "Gravity": 0.15, "GravityAngle": 270,
    "Bounce1Enable": 1, "Bounce1Start": [0.15, 0.9], "Bounce1End": [0.85, 0.9],
    "Bounce1Elasticity": 0.6, "Bounce1Roughness": 0.2,
    "EnableScale": 1, "GeneralSize": 0.6, "SizeVariance": 0.4,
    "EnableGrow": 1, "MaximumSize": 1.8, "GrowSpline": {"points": [[0, 0.3], [1, 1]]},
    "EnableFade": 1, "MergeSpline": {"points": [[0, 0], [0.1, 1], [0.6, 0.8], [1, 0]]},
    "ColorTinting": 1,
    "RedSpline": {"points": [[0, 1], [0.5, 1], [1, 0.6]]},
    "GreenSpline": {"points": [[0, 0.9], [0.5, 0.5], [1, 0.1]]},
    "BlueSpline": {"points": [[0, 0.4], [0.4, 0.1], [1, 0.05]]},
    "RotationSpeed": 4, "RotationVariance": 0.5
  },
  "events": [{"frame": 0, "press": "FastForward"}],
  "output": "out/demo/demo.####.png"
})json";

}  // namespace lumets
