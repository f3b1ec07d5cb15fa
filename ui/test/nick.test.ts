import { describe, expect, it } from 'vitest';
import { isValidNick, nickProblem } from '../src/domain/nick';

describe('nick rule', () => {
  it.each(['Ab', 'Ab_Cd', 'Ivan_Petrov', 'Player2024', 'a1', 'Abcdefghij_Klmnopqrs', 'A'.repeat(20)])('accepts %s', (nick) => {
    expect(isValidNick(nick)).toBe(true);
  });

  it.each([
    ['', 'empty'],
    ['A', 'one letter'],
    ['A'.repeat(21), '21 letters'],
    ['Abcdefghij_Klmnopqrst', '21 with underscore'],
    ['Ab_C', 'one-letter surname'],
    ['_Abcd', 'leading underscore'],
    ['Abcd_', 'trailing underscore'],
    ['Ab_Cd_Ef', 'two underscores'],
    ['Ab-Cd', 'hyphen'],
    ['Iv an', 'blank'],
    ['Иван', 'Cyrillic'],
    ['Abé', 'accented letter'],
  ])('rejects %s (%s)', (nick) => {
    expect(isValidNick(nick)).toBe(false);
  });

  it('names the problem a player would fix first', () => {
    expect(nickProblem('Иван_Петров')).toMatch(/латинские/);
    expect(nickProblem('A')).toMatch(/коротко/);
    expect(nickProblem('Abcdefghijklmnopqrstu')).toMatch(/сейчас 21/);
    expect(nickProblem('Ab__Cd')).toMatch(/только одно/);
    expect(nickProblem('Ivan_P')).toMatch(/по 2 символа/);
  });
});
