// Intentionally empty: lets a library target exist before its first source.
