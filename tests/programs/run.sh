#!/usr/bin/env bash
echo "no programs yet"
