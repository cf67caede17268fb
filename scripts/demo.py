"""Placeholder demo; replaced when the host exists."""
import sys
print("qsft host is not built yet:", sys.argv[1:])
