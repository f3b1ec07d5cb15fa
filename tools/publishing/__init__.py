"""Publishing tools of the content server: see tools/publish.py."""
