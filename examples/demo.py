"""A first look at tavoro: vectors as a game loop uses them.

Run with `make demo`. Moves a handful of particles under gravity, keeps them in an arena by
reflecting their velocities, and prints what the vectors compute on the way.
"""

from tavoro.vector2.vector2 import Vector2

WIDTH, HEIGHT = 320.0, 240.0
GRAVITY = Vector2(0.0, 98.0)
STEP = 1.0 / 60.0


def main() -> None:
    positions = [Vector2(20.0 + 40.0 * i, 30.0) for i in range(6)]
    velocities = [Vector2(35.0 * (i - 2.5), -20.0 * i) for i in range(6)]
    bounces = 0
    for frame in range(600):
        for position, velocity in zip(positions, velocities):
            velocity += GRAVITY * STEP
            position += velocity * STEP
            if not 0.0 <= position.x <= WIDTH:
                velocity.x = -velocity.x * 0.9
                position.x = min(max(position.x, 0.0), WIDTH)
                bounces += 1
            if not 0.0 <= position.y <= HEIGHT:
                velocity.y = -velocity.y * 0.9
                position.y = min(max(position.y, 0.0), HEIGHT)
                bounces += 1
        if frame % 150 == 0:
            centre = sum(positions[1:], positions[0].copy()) / len(positions)
            print(f"frame {frame:3d}: centre of mass {centre}, "
                  f"fastest {max(v.length for v in velocities):7.2f} px/s")

    heading = velocities[0].get_normalized()
    print(f"after 10 s: {bounces} bounces; particle 0 at {positions[0]} heading {heading}")
    print(f"distance between particles 0 and 5: {positions[0].distance_to(positions[5]):.3f}")
    print(f"rounded positions: {[p.get_rounded_tuple() for p in positions]}")


if __name__ == "__main__":
    main()
