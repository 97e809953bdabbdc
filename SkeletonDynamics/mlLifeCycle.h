// Hooks that a world calls around each step of a body of type T: before the step, after the collision
// flags are set, and after the step. Nothing in the library adds hooks; scripts and tools may.
#pragma once

#include <functional>
#include <vector>

template <class T>
class mlLifeCycle {
 public:
  std::vector<std::function<void(T*, float time, float dt)>> preStepHooks;
  std::vector<std::function<void(T*, float dt)>> postCollisionHooks;
  std::vector<std::function<void(T*, float time, float dt)>> postStepHooks;

 protected:
  // Not virtual: bodies are held and destroyed as their own type.
  ~mlLifeCycle() = default;
};
